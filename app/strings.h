#pragma once
// The program's user-visible texts, keyed by their string numbers. Every message, title and status
// line shown by a front end comes from here.

#include <initializer_list>
#include <string>
#include <string_view>

namespace tabulon {

namespace StringId {
constexpr int SetDataSource = 112;        // "请设置数据源"
constexpr int RootCategory = 132;         // "根目录"
constexpr int LostCategory = 133;         // "丢失的目录"
constexpr int OriginalCategory = 134;     // "原始的文件"
constexpr int ChooseSaveFolder = 135;
constexpr int FragmentCategory = 136;     // "碎片扫描的文件"
constexpr int LoadingRoot = 137;          // "正在加载根目录...."
constexpr int ScanningLost = 138;         // "正在扫描丢失的文件...."
constexpr int LocalDisk = 141;
constexpr int ImageFile = 142;
constexpr int FileInfo = 144;             // "名称： %s\n长度： %s"
constexpr int CreatedLabel = 145;         // "创建时间："
constexpr int ModifiedLabel = 146;        // "修改时间："
constexpr int SetBlockSize = 148;
constexpr int ConfirmExit = 149;
constexpr int InsertStick = 150;
constexpr int RestoringNames = 151;
constexpr int FragmentScanAdvice = 152;
constexpr int CreateFolderFailed = 153;   // "创建目录失败！\r\n%s"
constexpr int Saving = 154;               // "正在保存 [%s]"
}  // namespace StringId

// The text of a string number; empty for a number that the table does not hold.
std::u16string_view LoadString(int id);

// Replaces each "%s" of `format`, in order, by the next argument; "%%" gives "%". Surplus "%s" stay
// as they are.
std::u16string FormatText(std::u16string_view format, std::initializer_list<std::u16string_view> args);

}  // namespace tabulon
