// What the About information says, shared by the module's text and the companion's dialog.
#pragma once

// Six lines separated by single carriage returns, as the host's message box expects.
inline constexpr char aboutText[] =
    "Vortelline\r"
    "make by Ternwick\r"
    "https://www.ternwick.com\r"
    "Flame shader and value noise by the Vortelline authors\r"
    "https://www.ternwick.com/vortelline/source\r"
    "Shader code licensed under the MIT License";

// The maker's web site, opened by "Visit Website".
inline constexpr char makerWebsite[] = "https://www.ternwick.com";
