// The text renderer on FreeType and fontconfig.
#include "kxtext.h"
