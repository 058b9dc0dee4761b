// The upload page document as it was embedded at build time from upload_page.html.
#pragma once

#include <string_view>

namespace ferrylantern {

std::string_view uploadPageResource();

} // namespace ferrylantern
