#include "sc/exchange/capdu_rapdu.h"

#include <utility>

#include "sc/exchange/apdu_printer_iface.h"
#include "service/common/exception.h"

namespace ZORVIK {

namespace {

std::shared_ptr<I_APDU_Printer> CloneOf(const std::shared_ptr<I_APDU_Printer>& printer) {
    return printer ? printer->Clone() : nullptr;
}

const char* const IncompleteCommand = "Командное APDU задано не полностью";
const char* const WrongLc = "Командное APDU некорректно. Вероятно неправильно задано Lc";
const char* const MalformedCommand = "Командное APDU некорректно.";

// ISO/IEC 7816-3, 12.1.3: Ne of 256 (short) or 65536 (extended) is written as zeros.
uint32_t ShortNe(uint8_t le) { return le == 0 ? 256u : le; }
uint32_t ExtendedNe(uint8_t high, uint8_t low) {
    const uint32_t value = static_cast<uint32_t>(high) << 8 | low;
    return value == 0 ? 65536u : value;
}

}  // namespace

CApdu::CApdu(uint8_t cla_, uint8_t ins_, uint8_t p1_, uint8_t p2_, const binary::Binary& data_, uint32_t ne_,
             const std::shared_ptr<I_APDU_Printer>& printer_, bool extended_)
    : cla(cla_), ins(ins_), p1(p1_), p2(p2_), data(data_), printer(CloneOf(printer_)), extended(extended_), ne(ne_) {}

CApdu::CApdu(uint8_t cla_, uint8_t ins_, uint8_t p1_, uint8_t p2_, const binary::Binary& data_, uint32_t ne_,
             bool extended_)
    : cla(cla_), ins(ins_), p1(p1_), p2(p2_), data(data_), extended(extended_), ne(ne_) {}

CApdu::CApdu(uint8_t cla_, uint8_t ins_, uint8_t p1_, uint8_t p2_, uint32_t ne_,
             const std::shared_ptr<I_APDU_Printer>& printer_, bool extended_, bool forceCase4_)
    : cla(cla_),
      ins(ins_),
      p1(p1_),
      p2(p2_),
      printer(CloneOf(printer_)),
      extended(extended_),
      forceCase4(forceCase4_),
      ne(ne_) {}

CApdu::CApdu(uint8_t cla_, uint8_t ins_, uint8_t p1_, uint8_t p2_, uint32_t ne_, bool extended_, bool forceCase4_)
    : cla(cla_), ins(ins_), p1(p1_), p2(p2_), extended(extended_), forceCase4(forceCase4_), ne(ne_) {}

CApdu::CApdu(const binary::Binary& canonical) { DecodeCanonical(canonical); }

CApdu::CApdu(const char* hexText) { DecodeCanonical(binary::Binary(hexText)); }

CApdu::CApdu(const CApdu& other)
    : cla(other.cla),
      ins(other.ins),
      p1(other.p1),
      p2(other.p2),
      data(other.data),
      printer(CloneOf(other.printer)),
      extended(other.extended),
      forceCase4(other.forceCase4),
      ne(other.ne) {}

CApdu& CApdu::operator=(const CApdu& other) {
    CApdu copy(other);
    swap(copy);
    return *this;
}

CApdu::~CApdu() = default;

void CApdu::swap(CApdu& other) noexcept {
    std::swap(cla, other.cla);
    std::swap(ins, other.ins);
    std::swap(p1, other.p1);
    std::swap(p2, other.p2);
    data.swap(other.data);
    printer.swap(other.printer);
    std::swap(extended, other.extended);
    std::swap(forceCase4, other.forceCase4);
    std::swap(ne, other.ne);
}

void CApdu::DecodeCanonical(const binary::Binary& bytes) {
    static const char* const Where = "ZORVIK::CApdu::DecodeCanonical";
    const size_t n = bytes.size();
    extended = false;
    ZORVIK_CHECK(Where, n >= 4, IncompleteCommand);
    cla = bytes[0];
    ins = bytes[1];
    p1 = bytes[2];
    p2 = bytes[3];
    data.clear();
    ne = 0;
    if (n == 4) {
        return;  // case 1
    }
    const uint8_t b = bytes[4];
    if (n == 5) {
        ne = ShortNe(b);  // case 2 short
        return;
    }
    if (b != 0) {
        // Short Lc: the data follow, then at most one Le byte.
        ZORVIK_CHECK(Where, n == b + 5u || n == b + 6u, WrongLc);
        data.assign(bytes.begin() + 5, bytes.begin() + 5 + b);
        if (n == b + 6u) {
            ne = ShortNe(bytes[5 + b]);  // case 4 short
        }
        return;
    }
    extended = true;
    if (n == 7) {
        ne = ExtendedNe(bytes[5], bytes[6]);  // case 2 extended
        return;
    }
    ZORVIK_CHECK(Where, n >= 8, MalformedCommand);
    const size_t lc = static_cast<size_t>(bytes[5]) << 8 | bytes[6];
    // ISO/IEC 7816-3, 12.1.3: an extended Lc field encodes Nc from 1 to 65535;
    // 00 00 00 followed by more bytes is no valid command.
    ZORVIK_CHECK(Where, lc != 0 && (n == lc + 7 || n == lc + 9), WrongLc);
    data.assign(bytes.begin() + 7, bytes.begin() + 7 + static_cast<std::ptrdiff_t>(lc));
    if (n == lc + 9) {
        ne = ExtendedNe(bytes[7 + lc], bytes[8 + lc]);  // case 4 extended
    }
}

bool CApdu::UsesShortForm(bool forceExtended) const {
    return data.size() < 256 && ne < 257 && !extended && !forceExtended;
}

void CApdu::SelfCheck() const {
    ZORVIK_CHECK("ZORVIK::CApdu::SelfCheck", data.size() <= MaxDataLength && ne <= MaxNe,
                 "Некорректные размеры данных в CApdu");
}

void CApdu::AppendHeader(binary::Binary& out) const {
    out.push_back(cla);
    out.push_back(ins);
    out.push_back(p1);
    out.push_back(p2);
}

void CApdu::AppendLc(binary::Binary& out, bool forceExtended) const {
    if (data.empty()) {
        return;
    }
    if (UsesShortForm(forceExtended)) {
        out.push_back(static_cast<uint8_t>(data.size()));
        return;
    }
    out.push_back(0x00);
    out.push_back(static_cast<uint8_t>(data.size() >> 8));
    out.push_back(static_cast<uint8_t>(data.size()));
}

void CApdu::AppendLe(binary::Binary& out, bool forceExtended) const {
    if (ne == 0) {
        return;
    }
    if (UsesShortForm(forceExtended)) {
        out.push_back(static_cast<uint8_t>(ne));
        return;
    }
    // ISO/IEC 7816-3, 12.1.3: an extended Le without an Lc field opens with 00.
    if (data.empty()) {
        out.push_back(0x00);
    }
    out.push_back(static_cast<uint8_t>(ne >> 8));
    out.push_back(static_cast<uint8_t>(ne));
}

void CApdu::Encode(binary::Binary& out, bool forceExtended) const {
    SelfCheck();
    out.clear();
    out.reserve(data.size() + 9);
    AppendHeader(out);
    AppendLc(out, forceExtended);
    out.insert(out.end(), data.begin(), data.end());
    AppendLe(out, forceExtended);
}

binary::Binary CApdu::Encode() const {
    binary::Binary out;
    Encode(out, false);
    return out;
}

uint32_t CApdu::GetCase() const {
    uint32_t base;
    if (forceCase4) {
        base = Case4Short;
    } else if (!data.empty()) {
        base = ne != 0 ? Case4Short : Case3Short;
    } else {
        base = ne != 0 ? Case2Short : Case1;
    }
    if (UsesShortForm(false) || base == Case1) {
        return base;
    }
    return base + 1;
}

bool CApdu::IsExtended() const { return data.size() > 255 || ne > 256 || extended; }

void CApdu::SetPrinter(const I_APDU_Printer& newPrinter) { printer = newPrinter.Clone(); }

RApdu::RApdu(const binary::Binary& canonical) { DecodeCanonical(canonical); }

void RApdu::DecodeCanonical(const binary::Binary& bytes) {
    ZORVIK_CHECK("ZORVIK::RApdu::DecodeCanonical", bytes.size() >= 2,
                 "Некорректная длина структуры RApdu. Отсутствуют обязательные поля статуса");
    data.assign(bytes.begin(), bytes.end() - 2);
    sw1 = bytes[bytes.size() - 2];
    sw2 = bytes[bytes.size() - 1];
}

void RApdu::Clear() {
    data.clear();
    sw1 = 0;
    sw2 = 0;
}

binary::Binary RApdu::Encode() const {
    binary::Binary out;
    out.reserve(data.size() + 2);
    out.insert(out.end(), data.begin(), data.end());
    out.push_back(sw1);
    out.push_back(sw2);
    return out;
}

}  // namespace ZORVIK
