// Member and property names compare as automation compares them: ASCII
// letters without case, every other character exactly. Names arrive as
// UTF-16 (OLECHAR) and are listed in tables as UTF-8 or UTF-16.
#pragma once

#include <cstddef>
#include <string_view>
#include <type_traits>

template <class CharA, class CharB>
constexpr bool EqualsAsciiNoCase(std::basic_string_view<CharA> a, std::basic_string_view<CharB> b) {
    if (a.size() != b.size()) return false;
    const auto lower = [](auto c) {
        const auto u = static_cast<char32_t>(static_cast<std::make_unsigned_t<decltype(c)>>(c));
        return u >= U'A' && u <= U'Z' ? u - U'A' + U'a' : u;
    };
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i])) return false;
    return true;
}
