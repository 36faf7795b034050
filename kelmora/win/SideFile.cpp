// The side-file rule of Windows: the text is cut into pieces at "=" (a run of
// "=" is one separator, leading ones are skipped); the key must be in the
// first piece and "TRUE" in the second, both compared in upper case.
#include <cctype>
#include <cstring>
#include <string>
#include <string_view>

#include "../core/Platform.h"

namespace {

// The next piece from pos on, or an empty view when none is left.
std::string_view nextPiece(std::string_view text, std::size_t& pos) {
    pos = text.find_first_not_of('=', pos);
    if (pos == std::string_view::npos) {
        pos = text.size();
        return {};
    }
    std::size_t end = text.find('=', pos);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view piece = text.substr(pos, end - pos);
    pos = end;
    return piece;
}

std::string upperCase(std::string_view piece) {
    std::string upper(piece);
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return upper;
}

}  // namespace

namespace platform {

bool sidefileDisablesSecondAuthentication(const char* text, std::size_t length) {
    // The text ends at its first zero byte, as any C text does.
    const void* zero = std::memchr(text, '\0', length);
    const std::string_view all(
        text,
        zero != nullptr ? static_cast<std::size_t>(static_cast<const char*>(zero) - text) : length);
    std::size_t pos = 0;
    const std::string_view key = nextPiece(all, pos);
    if (key.empty() || upperCase(key).find("DSPINISCNSPIN") == std::string::npos) return false;
    // A key without a value after the "=" does not turn the second PIN off.
    const std::string_view value = nextPiece(all, pos);
    if (value.empty()) return false;
    return upperCase(value).find("TRUE") != std::string::npos;
}

}  // namespace platform
