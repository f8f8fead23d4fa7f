#include "res/CodePage.h"

namespace valdrune {

unsigned AnsiCodePageFor(Language language) {
    switch (language) {
        case Language::Japanese:
            return 932;
        case Language::ChineseSimplified:
            return 936;
        default:
            return 1252;
    }
}

}  // namespace valdrune
