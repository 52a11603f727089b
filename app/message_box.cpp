#include "app/message_box.h"

#include <QCoreApplication>
#include <utility>

#include "app/number_text.h"

namespace {

void RealMessageBox(QWidget* parent, QMessageBox::Icon icon, const QString& title,
                    const QString& text) {
  QMessageBox box(icon, title, text, QMessageBox::Ok, parent);
  box.exec();
}

MessageBoxHandler& CurrentHandler() {
  static MessageBoxHandler handler = RealMessageBox;
  return handler;
}

} // namespace

// Shows the box through the current handler; reports nothing.
void ShowMessageBox(QWidget* parent, QMessageBox::Icon icon, const QString& title,
                    const QString& text) {
  CurrentHandler()(parent, icon, title, text);
}

// The error box carries the application's name as its title, like the
// toolkit's own error display; main() sets it to "K7v Conf tool".
void ShowErrorBox(QWidget* parent, const QString& text) {
  ShowMessageBox(parent, QMessageBox::Critical, QCoreApplication::applicationName(), text);
}

// Returns the previous handler; an empty handler brings back the real box.
MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler) {
  MessageBoxHandler previous = std::exchange(CurrentHandler(), std::move(handler));
  if (!CurrentHandler()) CurrentHandler() = RealMessageBox;
  return previous;
}

// Never fails.
QString InvalidIntegerMessage(const QString& text) {
  return QLatin1Char('\'') + text + QStringLiteral("' is not a valid integer value.");
}

// nullopt after the box has been shown.
std::optional<std::int32_t> ConvertInt32OrComplain(QWidget* parent, const QString& text) {
  const auto value = ParseInt32(text);
  if (!value) ShowErrorBox(parent, InvalidIntegerMessage(text));
  return value;
}
