#include "params/number_text.h"

#include "app/message_box.h"

std::optional<std::int32_t> ParseInt32(const QString& text) {
  int i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-'))) {
    negative = text[i] == QLatin1Char('-');
    ++i;
  }
  if (i >= text.size()) return std::nullopt;
  std::int64_t value = 0;
  for (; i < text.size(); ++i) {
    const char16_t c = text[i].unicode();
    if (c < u'0' || c > u'9') return std::nullopt;
    value = value * 10 + (c - u'0');
    if (value > std::int64_t(INT32_MAX) + 1) return std::nullopt;
  }
  if (negative) value = -value;
  if (value < INT32_MIN || value > INT32_MAX) return std::nullopt;
  return std::int32_t(value);
}

std::optional<std::int32_t> ConvertInt32OrComplain(QWidget* parent, const QString& text) {
  const auto value = ParseInt32(text);
  if (!value) ShowErrorBox(parent, InvalidIntegerMessage(text));
  return value;
}
