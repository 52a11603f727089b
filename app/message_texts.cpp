#include "app/message_texts.h"

#include "platform/built_in_messages.h"

// Empty for keys that are in neither table.
QString BuiltInMessage(const QString& key) {
  const std::string_view text = BuiltInMessageText(key.toStdString());
  return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

bool IsAddedMessage(const QString& key) { return IsAddedMessageKey(key.toStdString()); }
