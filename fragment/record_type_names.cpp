#include "fragment/record_type_names.h"

#include <array>
#include <memory>

namespace tabulon {

namespace {

struct NamedType {
    uint16_t type;
    const char16_t* name;
};

// The BOF name carries fourteen asterisks so that stream starts stand out in block listings.
constexpr NamedType kNamedTypes[] = {
    {0x0006, u"FORMULA"},
    {0x000A, u"EOF"},
    {0x000C, u"CALCCOUNT"},
    {0x000D, u"CALCMODE"},
    {0x000E, u"PRECISION"},
    {0x000F, u"REFMODE"},
    {0x0010, u"DELTA"},
    {0x0011, u"ITERATION"},
    {0x0012, u"PROTECT"},
    {0x0013, u"PASSWORD"},
    {0x0014, u"HEADER"},
    {0x0015, u"FOOTER"},
    {0x0017, u"EXTERNSHEET"},
    {0x0018, u"NAME"},
    {0x0019, u"WINDOWPROTECT"},
    {0x001A, u"VERTICALPAGEBREAKS"},
    {0x001B, u"HORIZONTALPAGEBREAKS"},
    {0x001C, u"NOTE"},
    {0x001D, u"SELECTION"},
    {0x0021, u"ARRAY"},
    {0x0022, u"DATEMODE"},
    {0x0023, u"EXTERNNAME"},
    {0x0026, u"LEFTMARGIN"},
    {0x0027, u"RIGHTMARGIN"},
    {0x0028, u"TOPMARGIN"},
    {0x0029, u"BOTTOMMARGIN"},
    {0x002A, u"PRINTHEADERS"},
    {0x002B, u"PRINTGRIDLINES"},
    {0x002F, u"FILEPASS"},
    {0x0031, u"FONT"},
    {0x003C, u"CONTINUE"},
    {0x003D, u"WINDOW1"},
    {0x0040, u"BACKUP"},
    {0x0041, u"PANE"},
    {0x0042, u"CODEPAGE"},
    {0x004D, u"PRINTER"},
    {0x0051, u"DCONREF"},
    {0x0055, u"DEFCOLWIDTH"},
    {0x0059, u"XCT"},
    {0x005A, u"CRN"},
    {0x005B, u"FILESHARING"},
    {0x005C, u"WRITEACCESS"},
    {0x005D, u"Unknown55555"},
    {0x005E, u"UNCALCED"},
    {0x005F, u"SAVERECALC"},
    {0x0063, u"OBJECTPROTECT"},
    {0x007D, u"COLINFO"},
    {0x007F, u"Unknown3333"},
    {0x0080, u"GUTS"},
    {0x0081, u"WSBOOL"},
    {0x0082, u"GRIDSET"},
    {0x0083, u"HCENTER"},
    {0x0084, u"VCENTER"},
    {0x0085, u"BOUNDSHEET"},
    {0x0086, u"WRITEPROT"},
    {0x008C, u"COUNTRY"},
    {0x008D, u"HIDEOBJ"},
    {0x0090, u"SORT"},
    {0x0092, u"PALETTE"},
    {0x0099, u"STANDARDWIDTH"},
    {0x00A0, u"SCL"},
    {0x00A1, u"SETUP"},
    {0x00BD, u"MULRK"},
    {0x00BE, u"MULBLANK"},
    {0x00D6, u"RSTRING"},
    {0x00D7, u"DBCELL"},
    {0x00DA, u"BOOKBOOL"},
    {0x00DD, u"SCENPROTECT"},
    {0x00E0, u"XF"},
    {0x00E5, u"MERGEDCELLS"},
    {0x00E9, u"BITMAP"},
    {0x00EB, u"Unknown111"},
    {0x00EC, u"Unknown666"},
    {0x00EF, u"PHONETIC"},
    {0x00FC, u"SST"},
    {0x00FD, u"LABELSST"},
    {0x00FF, u"EXTSST"},
    {0x015F, u"LABELRANGES"},
    {0x0160, u"USESELFS"},
    {0x0161, u"DSF"},
    {0x01AE, u"SUPBOOK"},
    {0x01B0, u"CONDFMT"},
    {0x01B2, u"DVAL"},
    {0x01B8, u"HLINK"},
    {0x01BE, u"DV"},
    {0x0200, u"DIMENSIONS"},
    {0x0201, u"BLANK"},
    {0x0203, u"NUMBER"},
    {0x0204, u"LABEL"},
    {0x0205, u"BOOLERR"},
    {0x0207, u"STRING"},
    {0x0208, u"ROW"},
    {0x020B, u"INDEX"},
    {0x0221, u"ARRAY"},
    {0x0225, u"DEFAULTROWHEIGHT"},
    {0x0236, u"TABLEOP"},
    {0x023E, u"WINDOW2"},
    {0x027E, u"RK"},
    {0x0293, u"STYLE"},
    {0x041E, u"FORMAT"},
    {0x04BC, u"SHRFMLA"},
    {0x0800, u"QUICKTIP"},
    {0x0809, u"BOF **************"},
    {0x0862, u"SHEETLAYOUT"},
    {0x0867, u"SHEETPROTECTION"},
    {0x0868, u"RANGEPROTECTION"},
};

static_assert(std::size(kNamedTypes) == RecordTypeNames::kCount);

// One entry per 16-bit type code, so a lookup is a single index; built once, on first use.
struct NameTable {
    std::array<const char16_t*, 65536> names {};
    NameTable() {
        for (const NamedType& entry : kNamedTypes) names[entry.type] = entry.name;
    }
};

const NameTable& Table() {
    static const std::unique_ptr<const NameTable> table = std::make_unique<const NameTable>();
    return *table;
}

}  // namespace

bool RecordTypeNames::IsKnown(uint16_t type) { return Table().names[type] != nullptr; }

std::u16string_view RecordTypeNames::NameOf(uint16_t type) {
    const char16_t* name = Table().names[type];
    return name ? std::u16string_view(name) : std::u16string_view();
}

}  // namespace tabulon
