#include "app/strings.h"

#include <algorithm>
#include <array>
#include <utility>

namespace tabulon {
namespace {

constexpr std::array<std::pair<int, std::u16string_view>, 20> kStrings {{
    {112, u"请设置数据源"},
    {132, u"根目录"},
    {133, u"丢失的目录"},
    {134, u"原始的文件"},
    {135, u"请选择一目录来保存数据,该目录必须在别的硬盘分区上.\r\n不能将数据导出到待恢复的分区上."},
    {136, u"碎片扫描的文件"},
    {137, u"正在加载根目录...."},
    {138, u"正在扫描丢失的文件...."},
    {141, u"本地磁盘"},
    {142, u"镜像文件"},
    {144, u"名称： %s\n长度： %s"},
    {145, u"创建时间："},
    {146, u"修改时间："},
    {148, u"请设置扫描的块大小"},
    {149, u"数据已经加载过，建议先保存数据再退出。\r\n您确认不保存数据而直接退出？"},
    {150, u"请插入U盘，或者打开镜像文件来恢复！"},
    {151, u"正在尽量还原出原始文件名，若该过程太长，请按“停止”按钮...."},
    {152, u"碎片扫描的功能对U盘比较实用，大的硬盘将需要非常长的时间来扫描。\n不建议您使用这项功能来扫描大硬盘。"},
    {153, u"创建目录失败！\r\n%s"},
    {154, u"正在保存 [%s]"},
}};

}  // namespace

std::u16string_view LoadString(int id) {
    auto found = std::find_if(kStrings.begin(), kStrings.end(), [id](const auto& entry) { return entry.first == id; });
    return found == kStrings.end() ? std::u16string_view() : found->second;
}

std::u16string FormatText(std::u16string_view format, std::initializer_list<std::u16string_view> args) {
    std::u16string out;
    out.reserve(format.size() + 32);
    auto next = args.begin();
    for (size_t i = 0; i < format.size(); ++i) {
        if (format[i] == u'%' && i + 1 < format.size()) {
            if (format[i + 1] == u'%') {
                out += u'%';
                ++i;
                continue;
            }
            if (format[i + 1] == u's' && next != args.end()) {
                out += *next++;
                ++i;
                continue;
            }
        }
        out += format[i];
    }
    return out;
}

}  // namespace tabulon
