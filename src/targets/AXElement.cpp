#include "targets/AXElement.h"

#include "base/Numbers.h"

namespace vanto {

std::optional<AXElement> AXElement::withFrame(std::string role, std::string text, double x, double y, double width,
                                              double height) {
    auto ix = truncatedToInt64(x), iy = truncatedToInt64(y);
    auto iw = truncatedToInt64(width), ih = truncatedToInt64(height);
    auto icx = truncatedToInt64(x + width / 2), icy = truncatedToInt64(y + height / 2);
    if (!ix || !iy || !iw || !ih || !icx || !icy) return std::nullopt;
    AXElement element;
    element.role = std::move(role);
    element.text = std::move(text);
    element.x = *ix;
    element.y = *iy;
    element.width = *iw;
    element.height = *ih;
    element.cx = *icx;
    element.cy = *icy;
    return element;
}

nlohmann::ordered_json toJSON(const AXElement& element) {
    nlohmann::ordered_json j;
    j["role"] = element.role;
    j["text"] = element.text;
    j["x"] = element.x;
    j["y"] = element.y;
    j["width"] = element.width;
    j["height"] = element.height;
    j["cx"] = element.cx;
    j["cy"] = element.cy;
    j["alt"] = element.alt;
    j["identity"] = element.identity;
    j["enabled"] = element.enabled;
    j["inPage"] = element.inPage;
    return j;
}

} // namespace vanto
