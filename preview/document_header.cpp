#include "preview/document_header.h"

namespace kestrel {

namespace {

constexpr char16_t kUtf16Header[] =
    u" 经验证，此文件数据完全正确，导出后可以在Office中完美打开。以下为部分文字摘录，仅供参考!"
    u"\r\n\r\n";
constexpr char kUtf8Header[] =
    "\xEF\xBB\xBF"
    "经验证，此文件数据完全正确，导出后可以在Office中完美打开。以下为部分文字摘录，仅供参考!\r\n";

static_assert(sizeof(kUtf8Header) - 1 == 132, "the UTF-8 header line is 132 bytes");

}  // namespace

WStringView DocumentHeaderUtf16() { return {kUtf16Header, std::size(kUtf16Header) - 1}; }

std::string_view DocumentHeaderUtf8() { return {kUtf8Header, sizeof(kUtf8Header) - 1}; }

}  // namespace kestrel
