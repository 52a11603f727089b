#pragma once
// The status log's built-in message texts (UTF-8), shared by the window and
// the browser page: used for every message when no caption file is found,
// and for the keys added after the first version when a caption file lacks
// them. A first-version key missing from a caption file that is there stays
// empty, as that file's rules always had it. Plain C++.

#include <string_view>

// The built-in text of key; empty for an unknown key.
std::string_view BuiltInMessageText(std::string_view key);
// True for a key added after the first version; false for the first
// version's keys and unknown ones.
bool IsAddedMessageKey(std::string_view key);
