#pragma once
// Every message box of the program goes through here, so tests can replace it
// and never block on a modal box.

#include <QMessageBox>
#include <QString>
#include <cstdint>
#include <functional>
#include <optional>

using MessageBoxHandler = std::function<void(QWidget* parent, QMessageBox::Icon icon,
                                             const QString& title, const QString& text)>;

void ShowMessageBox(QWidget* parent, QMessageBox::Icon icon, const QString& title,
                    const QString& text);
// The toolkit's standard error display: error icon, application title.
void ShowErrorBox(QWidget* parent, const QString& text);
// Replaces the handler; returns the previous one. An empty handler restores the real box.
MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler);

// "'%s' is not a valid integer value." for text.
QString InvalidIntegerMessage(const QString& text);

// The number in text (ParseInt32); on failure shows the standard
// "'%s' is not a valid integer value." error box and returns nullopt.
std::optional<std::int32_t> ConvertInt32OrComplain(QWidget* parent, const QString& text);
