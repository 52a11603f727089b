#pragma once
// Whole-number conversion of field texts, as the toolkit converts them: an
// optional sign and decimal digits that fit a signed 32-bit integer. Anything
// else, the empty text included, is not a number.

#include <QString>
#include <cstdint>
#include <optional>

class QWidget;

// The number, or nullopt when text is not a whole number in range.
std::optional<std::int32_t> ParseInt32(const QString& text);

// The number; on failure shows the standard "'%s' is not a valid integer value."
// error box and returns nullopt.
std::optional<std::int32_t> ConvertInt32OrComplain(QWidget* parent, const QString& text);
