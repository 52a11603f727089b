#pragma once
// One unit's work in a k7vconf-cli run, on a thread of its own: open the
// port, enter configuration, do the command, leave configuration, close.

#include <QObject>
#include <memory>
#include <mutex>

#include "cli/fleet.h"

class DeviceSession;
class UnitSteps;

class UnitJob : public QObject {
  Q_OBJECT
public:
  UnitJob(int index, QString port, const UnitPlan& plan);
  ~UnitJob() override;

  // Stops the unit's work at the next wait, from any thread, at any time
  // until the job is destroyed: the session it reaches stays alive for the
  // length of the call. A unit in configuration mode is still told to leave
  // it. Never fails.
  void cancel();

public slots:
  // Does the whole work; emits finished exactly once.
  void run();

signals:
  // percent and secondsLeft are -1 when the step has none.
  void step(int unit, const QString& text, int percent, int secondsLeft);
  // A line for the log that is not a step: a retry, a warning.
  void note(int unit, const QString& line);
  void finished(int unit, const UnitOutcome& outcome);

private:
  UnitOutcome work(UnitSteps& steps);
  void scan(UnitSteps& steps, UnitOutcome& out);
  void say(const QString& text, int percent = -1, int secondsLeft = -1);

  const int index_;
  const QString port_;
  const UnitPlan& plan_;
  // Guards session_ and cancelled_: run() creates and destroys the session
  // under it, cancel() reaches it under it.
  std::mutex sessionMutex_;
  std::unique_ptr<DeviceSession> session_;
  bool cancelled_ = false;
};

Q_DECLARE_METATYPE(UnitOutcome)
