#include "settings_types.h"

const wchar_t* NoneWord(int languageIndex) { return languageIndex == 0 ? L"\u306a\u3057" : L"None"; }
