#pragma once
// One unit's work in a k7vconf-cli run, on a thread of its own: open the
// port, enter configuration, do the command, leave configuration, close.

#include <QObject>
#include <atomic>

#include "cli/fleet.h"

class DeviceSession;

class UnitJob : public QObject {
  Q_OBJECT
public:
  UnitJob(int index, QString port, const UnitPlan& plan);
  ~UnitJob() override;

  // Stops the unit's work at the next wait, from any thread. A unit in
  // configuration mode is still told to leave it. Never fails.
  void cancel();

public slots:
  // Does the whole work; emits finished exactly once.
  void run();

signals:
  // percent and secondsLeft are -1 when the step has none.
  void step(int unit, const QString& text, int percent, int secondsLeft);
  void finished(int unit, const UnitOutcome& outcome);

private:
  UnitOutcome work(DeviceSession& session);
  void say(const QString& text, int percent = -1, int secondsLeft = -1);

  const int index_;
  const QString port_;
  const UnitPlan& plan_;
  std::atomic<bool> cancelled_{false};
  std::atomic<DeviceSession*> session_{nullptr};
};

Q_DECLARE_METATYPE(UnitOutcome)
