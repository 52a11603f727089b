#include "app/number_text.h"

#include "params/field_checks.h"

// nullopt when the text is not a whole signed 32-bit number.
std::optional<std::int32_t> ParseInt32(const QString& text) {
  // Any character outside ASCII is not a digit, so its UTF-8 bytes fail too.
  const QByteArray utf8 = text.toUtf8();
  return ParseInt32(std::string_view(utf8.constData(), std::size_t(utf8.size())));
}
