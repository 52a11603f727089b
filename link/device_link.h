#pragma once
// The device link: the one serial port (CommHandle), the window's connection
// flag, and the sleep of a session that waits for the unit. A sleep wakes on
// arriving bytes, on its time, on a lost device, or when the link is aborted
// (window closed, a cancel), so the thread's other events (a window's
// clicks) are processed meanwhile without busy polling.
//
// One link belongs to one thread: it, its port and its sleeps live there.
// AbortWaits alone may be called from any thread.

#include <QObject>
#include <atomic>
#include <chrono>
#include <memory>

#include "link/serial_port.h"

class DeviceLink : public QObject {
  Q_OBJECT
public:
  explicit DeviceLink(std::unique_ptr<SerialPort> port, QObject* parent = nullptr);
  ~DeviceLink() override;

  SerialPort& CommHandle() { return *port_; }

  // The window's: configuration mode has been entered and not left.
  bool LinkConnected = false;

  // Runs a nested event loop until bytes arrive, the device is lost, the link
  // is aborted or woken, or limit has passed (negative: no limit). Returns at
  // once when aborted or closed; the caller has taken in what was waiting.
  // Never fails.
  void Sleep(std::chrono::milliseconds limit);
  // Ends the sleeps in progress once control is back in their loops, without
  // aborting anything: a sleeper then looks again at what it waits for.
  void Wake();

  // Ends every sleep in progress (window closing, a cancel), and every later
  // one at once until ClearAbort. Thread-safe.
  void AbortWaits();
  bool Aborted() const { return aborted_.load(); }
  void ClearAbort() { aborted_.store(false); }

signals:
  void abortRequested();
  void wakeRequested();

private:
  std::unique_ptr<SerialPort> port_;
  std::atomic<bool> aborted_{false};
};
