#pragma once
// The built-in texts behind the message table.
#include "imaging/core/KVMessages.h"

// The text of a language row msEnglish..msJapanese; empty where the language has none.
const char* KVWordText(TMsgLanguage language, int id);
