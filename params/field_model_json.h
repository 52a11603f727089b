#pragma once
// The field model (field_model.h) as JSON text, for every front end that is
// not C++: `k7vconf-cli fields --json` prints it, the browser page reads it
// from the core in WebAssembly. Plain C++, no JSON library.

#include <string>

// A JSON array with one object per field, in page order, with every fact of
// its row: name, record (offset, size, encoding), page (section key, built-in
// text, the window's control, navigation key), group, label and unit (each a
// caption key and its built-in text, or null), control, kind, typing,
// max_characters, allowed, exit_rule, words, values, min, max, except,
// exit_checks_min/max, max_bytes, exact_bytes, zero_while_zero,
// on_when_non_zero, shown_when and enabled_when (conditions: field, is,
// word), stored_from and set_on_change. Compact, UTF-8. Never fails.
std::string FieldModelJsonText();
