// Firmware download figures, the main window against the simulated DTU:
//   (1) a 102,400-byte image over a line paced at 115200 baud: the total time
//       against the time the bytes alone need on the wire (goal <= 1.02);
//   (2) the same image unpaced: how soon each chunk request is answered,
//       measured in the program from the request's arrival in ReadFrame to
//       the write of its answer (goal: median <= 1 ms), and the program's CPU
//       time for the whole download.
// The serial port is wrapped so that every byte read and written is counted
// and time-stamped where the program itself sees it.
//
// Usage: bench_download [unpaced runs, default 3] [paced runs, default 1]

#include <cstdio>

#if defined(__linux__)
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLoggingCategory>
#include <QProgressBar>
#include <QRandomGenerator>
#include <QTest>
#include <algorithm>
#include <memory>
#include <vector>

#include "bench_support.h"
#include "app/link_settings_dialog.h"
#include "link/qt_serial_port.h"
#include "support/dtu_sim_process.h"
#include "support/window_fixture.h"

namespace {

constexpr int kBaud = 115200;
constexpr double kBitsPerByte = 10; // start, 8 data, stop
constexpr int kBodySize = 102400;

// The real port, with every read and write counted and time-stamped.
class TimedPort : public SerialPort {
public:
  TimedPort() {
    connect(&inner_, &SerialPort::bytesArrived, this, [this] {
      lastNoticeNs_ = clock_.nsecsElapsed();
      emit bytesArrived();
    });
    connect(&inner_, &SerialPort::deviceLost, this, [this] { emit deviceLost(); });
    clock_.start();
  }
  OpenResult Open(const LineSettings& s) override { return inner_.Open(s); }
  bool IsOpen() const override { return inner_.IsOpen(); }
  void Close() override { inner_.Close(); }
  std::uint16_t RxBytesWaiting() override { return inner_.RxBytesWaiting(); }

  std::uint16_t ReadPort(std::uint8_t* dest, std::uint16_t n) override {
    const std::uint16_t got = inner_.ReadPort(dest, n);
    if (got > 0) {
      lastReadNs_ = clock_.nsecsElapsed();
      bytesIn += got;
    }
    return got;
  }

  bool WriteFrame(const std::uint8_t* bytes, std::size_t n) override {
    const qint64 start = clock_.nsecsElapsed();
    const bool ok = inner_.WriteFrame(bytes, n);
    const qint64 done = clock_.nsecsElapsed();
    bytesOut += n;
    if (n >= 2 && bytes[1] == 0xE2) {
      toWriteMs.push_back(double(start - lastReadNs_) / 1e6);
      toWrittenMs.push_back(double(done - lastReadNs_) / 1e6);
      fromNoticeMs.push_back(double(start - lastNoticeNs_) / 1e6);
    }
    return ok;
  }

  void Reset() {
    bytesIn = bytesOut = 0;
    toWriteMs.clear();
    toWrittenMs.clear();
    fromNoticeMs.clear();
  }

  long long bytesIn = 0, bytesOut = 0;
  // Per chunk answer: from the read that completed its request to the start
  // and to the end of the answer's write.
  std::vector<double> toWriteMs, toWrittenMs;
  // Per chunk answer: from the port's last "bytes arrived" notice before it
  // (the event loop's wake-up included) to the start of the write.
  std::vector<double> fromNoticeMs;

private:
  QtSerialPortLink inner_;
  QElapsedTimer clock_;
  qint64 lastReadNs_ = 0;
  qint64 lastNoticeNs_ = 0;
};

double Max(const std::vector<double>& v) {
  return v.empty() ? 0 : *std::max_element(v.begin(), v.end());
}

struct Run {
  bool ok = false;
  double seconds = 0;
  double cpuMs = 0;
  long long bytesIn = 0, bytesOut = 0;
  std::vector<double> toWriteMs, toWrittenMs, fromNoticeMs;
};

// One whole download of body; ok when the DTU stored exactly body.
Run Download(const QStringList& simArgs, const QByteArray& body) {
  Run run;
  DtuSimProcess sim;
  if (!sim.start(simArgs)) {
    std::fprintf(stderr, "dtu-sim: %s\n", qPrintable(sim.errorString()));
    return run;
  }
  auto owned = std::make_unique<TimedPort>();
  TimedPort* port = owned.get();
  WindowFixture fx(std::move(owned));
  fx.form().Form3()->findChild<QComboBox*>(QStringLiteral("cb_com"))->setEditText(sim.devicePath());
  fx.click("sb_com_open");
  if (!fx.get<QWidget>("bStart")->isEnabled()) {
    std::fprintf(stderr, "cannot connect to %s\n", qPrintable(sim.devicePath()));
    return run;
  }
  const QString path = QDir(fx.dir()).filePath(QStringLiteral("bench.bin"));
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly) ||
      file.write(QByteArray("V1.0\0\0\0\0", 8) + body) != body.size() + 8)
    return run;
  file.close();
  fx.dialogAnswers.push_back(path);
  fx.click("SpeedButton35");

  port->Reset();
  const long long cpu0 = CpuMicroseconds();
  QElapsedTimer clock;
  clock.start();
  fx.click("bStart"); // returns when the download has ended
  run.seconds = double(clock.nsecsElapsed()) / 1e9;
  run.cpuMs = double(CpuMicroseconds() - cpu0) / 1e3;
  run.bytesIn = port->bytesIn;
  run.bytesOut = port->bytesOut;
  run.toWriteMs = port->toWriteMs;
  run.toWrittenMs = port->toWrittenMs;
  run.fromNoticeMs = port->fromNoticeMs;
  run.ok = sim.stateImage() == body && fx.get<QProgressBar>("ProgressBar1")->value() == 100;
  return run;
}

} // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QLoggingCategory::setFilterRules(QStringLiteral("k7v.*.debug=false\nk7v.*.info=false"));
  const int unpacedRuns = argc > 1 ? std::max(1, QByteArray(argv[1]).toInt()) : 3;
  const int pacedRuns = argc > 2 ? std::max(1, QByteArray(argv[2]).toInt()) : 1;

  QByteArray body(kBodySize, Qt::Uninitialized);
  QRandomGenerator gen(20240611);
  for (char& b : body) b = char(gen.bounded(256));

  // (1) Paced line: every byte of every frame, both directions, 10 bits each.
  std::vector<double> ratios;
  for (int i = 0; i < pacedRuns; ++i) {
    const Run r = Download({"--baud", QString::number(kBaud), "--pace"}, body);
    const double wireSeconds = double(r.bytesIn + r.bytesOut) * kBitsPerByte / kBaud;
    // Where the time above the bound goes: the program's part is the time
    // from each request's arrival to the end of its answer's write; the rest
    // is the simulated line's pacing (its poll wake-ups and rounding).
    double programMs = 0;
    for (double ms : r.toWrittenMs) programMs += ms;
    const double ratio = wireSeconds > 0 ? r.seconds / wireSeconds : 0.0;
    ratios.push_back(ratio);
    std::printf("paced run %d: ok %s, bytes on wire %lld (to DTU %lld, from DTU %lld), %.3f s, "
                "bound %.3f s, "
                "ratio %.3f, excess %.1f ms, of it in the program %.1f ms\n",
                i + 1, r.ok ? "yes" : "NO", r.bytesIn + r.bytesOut, r.bytesOut, r.bytesIn,
                r.seconds, wireSeconds, ratio, (r.seconds - wireSeconds) * 1e3, programMs);
  }
  std::printf("download_wire_ratio: %.3f (median of %d; goal <= 1.02)\n", Percentile(ratios, 0.5),
              pacedRuns);

  // (2) Unpaced: the program's own share.
  std::vector<double> toWrite, toWritten, fromNotice, cpu, seconds;
  bool allOk = true;
  for (int i = 0; i < unpacedRuns; ++i) {
    const Run r = Download({}, body);
    allOk &= r.ok;
    toWrite.insert(toWrite.end(), r.toWriteMs.begin(), r.toWriteMs.end());
    toWritten.insert(toWritten.end(), r.toWrittenMs.begin(), r.toWrittenMs.end());
    fromNotice.insert(fromNotice.end(), r.fromNoticeMs.begin(), r.fromNoticeMs.end());
    cpu.push_back(r.cpuMs);
    seconds.push_back(r.seconds);
  }
  std::printf("unpaced_runs: %d, all_ok: %s, chunks: %zu\n", unpacedRuns, allOk ? "yes" : "NO",
              toWrite.size());
  std::printf("unpaced_download_ms_median: %.1f\n", Percentile(seconds, 0.5) * 1e3);
  std::printf("chunk_turnaround_median_ms: %.3f (goal <= 1)\n", Percentile(toWrite, 0.5));
  std::printf("chunk_turnaround_max_ms: %.3f\n", Max(toWrite));
  std::printf("chunk_turnaround_incl_write_median_ms: %.3f\n", Percentile(toWritten, 0.5));
  std::printf("chunk_turnaround_from_port_notice_median_ms: %.3f\n", Percentile(fromNotice, 0.5));
  std::printf("download_cpu_ms_median: %.1f\n", Percentile(cpu, 0.5));
  return allOk ? 0 : 1;
}

#else

int main() {
  std::puts("bench_download: needs the simulated DTU (Linux pseudo-terminals)");
  return 0;
}

#endif
