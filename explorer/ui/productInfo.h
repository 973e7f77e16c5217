// The product's names, version and addresses as the window shows them.
#pragma once

#include <string>
#include <string_view>

namespace lumivarui {

inline constexpr char kMainWindowTitle[] = "Lumiscope";
inline constexpr char kProductName[] = "Corvanta Lumiscope";
inline constexpr char kProductVersion[] = "V1.5";
inline constexpr char kCompanyName[] = "Corvanta";
// The product home page ("Corvanta &Home", the About box's link). The
// reserved .example domain until the product has a public site.
inline constexpr char kHomePageUrl[] = "https://www.corvanta.example/lumiscope/";

// " Build yymmdd" from a compiler date text ("Mmm dd yyyy", as __DATE__
// writes it); "" when the text is not such a date.
[[nodiscard]] std::string buildStamp(std::string_view compilerDate);

} // namespace lumivarui
