#pragma once
// Whole-number conversion of field texts, as the toolkit converts them: an
// optional sign and decimal digits that fit a signed 32-bit integer. Anything
// else, the empty text included, is not a number. The conversion box for a
// failure is the window's business (ConvertInt32OrComplain, app/message_box.h).

#include <QString>
#include <cstdint>
#include <optional>

// The number, or nullopt when text is not a whole number in range.
std::optional<std::int32_t> ParseInt32(const QString& text);
