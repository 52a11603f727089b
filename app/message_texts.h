#pragma once
// Built-in texts of the status messages, for when no caption file is found:
// then every message still has its words. A caption.ini made for the first
// version (a translation, an old copy beside the program) lacks the keys added
// since; those get their built-in text from here too, so their failures do not
// show as empty red lines. A first-version key missing from a caption file
// that is there stays empty, as that file's rules always had it. The texts
// are the core's (platform/built_in_messages.h), which the browser page shares.

#include <QString>

// The built-in text of key; empty for an unknown key.
QString BuiltInMessage(const QString& key);
// True for a key added after the first version; false for the first
// version's keys and unknown ones.
bool IsAddedMessage(const QString& key);
