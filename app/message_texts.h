#pragma once
// Built-in texts for the status messages added after the first version. A
// caption.ini made for the first version (a translation, an old copy beside
// the program) lacks these keys; without a text of their own their failures
// would show as empty red lines. The first version's keys have no built-in
// text: their caption.ini lines are the only source, as they always were.

#include <QString>

// The built-in text of key; empty for a key of the first version or an unknown one.
QString BuiltInMessage(const QString& key);
