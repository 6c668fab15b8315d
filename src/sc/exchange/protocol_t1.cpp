#include "sc/exchange/protocol_t1.h"

#include <algorithm>

#include "sc/exchange/atr.h"
#include "sc/exchange/byte_link.h"
#include "sc/exchange/capdu_rapdu.h"
#include "sc/exchange/reader.h"
#include "service/common/exception.h"
#include "service/log/log.h"

namespace ZORVIK {

namespace {

constexpr const char* UnexpectedBlockType = "Unexpected block type";
constexpr const char* ElaborateWhere = "ZORVIK::Protocol_T1::Elaborate";
constexpr uint8_t MaxInfLength = 254;
constexpr size_t MaxBlockLength = 250;
// Attempts at one block before the engine resynchronises (ISO/IEC 7816-3, 11.6.3.2 rule 7.4.2).
constexpr int MaxRetries = 3;
// Sends of S(RESYNCH request) before the card is given up (ISO/IEC 7816-3, 11.6.3.2 rule 6.4).
constexpr int MaxResynchSends = 3;
// Resynchronisations of one command, each round restarted by an R-block with an
// error counted as one more: a card that answers S(RESYNCH request) but fails
// everything else would otherwise keep the engine busy for ever.
constexpr int MaxResynchsPerCommand = 3;

constexpr uint8_t PcbChain = 0x20;
constexpr uint8_t PcbSResponse = 0x20;

bool IsIBlock(Protocol_T1::BlockKind kind) { return kind == Protocol_T1::I_Last || kind == Protocol_T1::I_Chained; }

bool IsRError(Protocol_T1::BlockKind kind) {
    return kind == Protocol_T1::R_ParityError || kind == Protocol_T1::R_OtherError;
}

bool IsRBlock(Protocol_T1::BlockKind kind) { return kind == Protocol_T1::R_Ok || IsRError(kind); }

// Kinds after which the card's answer belongs to the block they interrupted.
bool ResumesRemembered(Protocol_T1::BlockKind kind) {
    switch (kind) {
        case Protocol_T1::S_ResynchResponse:
        case Protocol_T1::S_IfsResponse:
        case Protocol_T1::S_AbortResponse:
        case Protocol_T1::S_WtxResponse:
        case Protocol_T1::R_ParityError:
        case Protocol_T1::R_OtherError: return true;
        default: return false;
    }
}

[[noreturn]] void ThrowUnexpected() { throw Exception(UnexpectedBlockType, ZORVIK_PLACE(ElaborateWhere)); }

[[noreturn]] void ThrowTooManyResynchs() {
    throw Exception("Команда не прошла по протоколу T=1 после трёх ресинхронизаций", ZORVIK_PLACE(ElaborateWhere));
}

}  // namespace

Protocol_T1::Protocol_T1(iReader* reader) : m_reader(reader) {}

Protocol_T1::~Protocol_T1() = default;

void Protocol_T1::SetEdcLength(uint8_t length) {
    ZORVIK_CHECK("ZORVIK::Protocol_T1::SetEdcLength", length == 1 || length == 2,
                 "Длина EDC протокола T=1 должна быть 1 (LRC) или 2 (CRC)");
    m_edcLength = length;
}

void Protocol_T1::ResetLink() { RestoreDefaults(); }

void Protocol_T1::RestoreDefaults() {
    m_ifs = m_defaultIfs;
    m_wtx = m_defaultWtx;
    m_ns = 0;
    m_cardNs = 1;
}

uint8_t Protocol_T1::CalcLrc(const uint8_t* bytes, size_t count) {
    uint8_t lrc = 0;
    for (size_t i = 0; i < count; ++i) lrc ^= bytes[i];
    return lrc;
}

uint16_t Protocol_T1::CalcCrcA(const uint8_t* bytes, size_t count) {
    // x^16 + x^12 + x^5 + 1 processed least significant bit first (reflected
    // polynomial 0x8408), initial value 0x6363, no final inversion.
    uint16_t crc = 0x6363;
    for (size_t i = 0; i < count; ++i) {
        uint8_t b = static_cast<uint8_t>(bytes[i] ^ (crc & 0xFF));
        b = static_cast<uint8_t>(b ^ (b << 4));
        crc = static_cast<uint16_t>((crc >> 8) ^ (b << 8) ^ (b << 3) ^ (b >> 4));
    }
    return crc;
}

std::string Protocol_T1::BlockName(uint8_t pcb) {
    if ((pcb & 0x80) == 0) {
        std::string name = (pcb & PcbChain) ? "I_BLOCK__CHAIN" : "I_BLOCK__NO_CHAIN";
        return name + ((pcb & 0x40) ? " (1)" : " (0)");
    }
    if ((pcb & 0xE0) == 0x80) {
        static const char* const names[] = {"R_BLOCK__OK", "R_BLOCK__PARITY_ERR", "R_BLOCK__OTHER_ERR"};
        const uint8_t error = pcb & 0x0F;
        if (error > 2) return "R_BLOCK_UNKNOWN";
        return std::string(names[error]) + ((pcb & 0x10) ? " (1)" : " (0)");
    }
    if ((pcb & 0xC0) == 0xC0) {
        static const char* const requests[] = {"S_BLOCK__RESYNCH_REQUEST", "S_BLOCK__IFS_REQUEST",
                                               "S_BLOCK__ABORT_REQUEST", "S_BLOCK__WTX_REQUEST"};
        static const char* const responses[] = {"S_BLOCK__RESYNCH_RESPONSE", "S_BLOCK__IFS_RESPONSE",
                                                "S_BLOCK__ABORT_RESPONSE", "S_BLOCK__WTX_RESPONSE"};
        const uint8_t code = pcb & 0x1F;
        if (code > 3) return "S_BLOCK_UNKNOWN";
        return (pcb & PcbSResponse) ? responses[code] : requests[code];
    }
    return "UNKNOWN_BLOCK";
}

binary::Binary Protocol_T1::BuildBlock(BlockKind kind, uint8_t sequence, const binary::Binary& inf) const {
    ZORVIK_CHECK("ZORVIK::Protocol_T1::BuildBlock", inf.size() <= MaxInfLength, "Поле INF блока T=1 длиннее 254 байт");
    const uint8_t bit = sequence & 1;
    uint8_t pcb = 0;
    switch (kind) {
        case I_Last: pcb = static_cast<uint8_t>(bit << 6); break;
        case I_Chained: pcb = static_cast<uint8_t>(bit << 6 | PcbChain); break;
        case R_Ok:
        case R_ParityError:
        case R_OtherError: pcb = static_cast<uint8_t>(0x80 | bit << 4 | (kind - R_Ok)); break;
        default: {
            // S-blocks: the request kinds are odd, their responses follow them.
            const uint8_t offset = static_cast<uint8_t>(kind - S_ResynchRequest);
            pcb = static_cast<uint8_t>(0xC0 | ((offset & 1) ? PcbSResponse : 0) | offset / 2);
        }
    }
    binary::Binary block;
    block.reserve(3 + inf.size() + m_edcLength);
    block.push_back(0x00);
    block.push_back(pcb);
    block.push_back(static_cast<uint8_t>(inf.size()));
    block += inf;
    if (m_edcLength == 2) {
        const uint16_t crc = CalcCrcA(block.data(), block.size());
        block.push_back(static_cast<uint8_t>(crc & 0xFF));
        block.push_back(static_cast<uint8_t>(crc >> 8));
    } else {
        block.push_back(CalcLrc(block.data(), block.size()));
    }
    return block;
}

std::optional<Protocol_T1::Block> Protocol_T1::CheckBlock(const binary::Binary& received) const {
    const uint8_t* bytes = received.data();
    const size_t length = received.size();
    if (length < 3u + m_edcLength) return std::nullopt;
    const uint8_t pcb = bytes[1];
    const uint8_t len = bytes[2];
    // ISO/IEC 7816-3, 11.3.1: the block is exactly prologue, INF and epilogue.
    if (length != 3u + len + m_edcLength) return std::nullopt;
    const size_t edcAt = 3u + len;
    if (m_edcLength == 2) {
        const uint16_t crc = CalcCrcA(bytes, edcAt);
        if (bytes[edcAt] != (crc & 0xFF) || bytes[edcAt + 1] != (crc >> 8)) return std::nullopt;
    } else if (CalcLrc(bytes, edcAt) != bytes[edcAt]) {
        return std::nullopt;
    }

    Block block{I_Last, pcb, binary::Binary(bytes + 3, bytes + edcAt), 0};
    if ((pcb & 0x80) == 0) {
        if ((pcb & 0x1F) != 0) return std::nullopt;
        block.kind = (pcb & PcbChain) ? I_Chained : I_Last;
        block.sequence = (pcb >> 6) & 1;
        return block;
    }
    if ((pcb & 0xE0) == 0x80) {
        const uint8_t error = pcb & 0x0F;
        if (len != 0 || error > 2) return std::nullopt;
        block.kind = static_cast<BlockKind>(R_Ok + error);
        block.sequence = (pcb >> 4) & 1;
        return block;
    }
    if ((pcb & 0xC0) == 0xC0) {
        const uint8_t code = pcb & 0x1F;
        if (code > 3) return std::nullopt;
        const bool carriesValue = code == 1 || code == 3;  // IFS and WTX
        if (len != (carriesValue ? 1 : 0)) return std::nullopt;
        // ISO/IEC 7816-3, 11.4.2: IFS values 00 and FF are reserved.
        if (code == 1 && (block.inf[0] == 0x00 || block.inf[0] == 0xFF)) return std::nullopt;
        block.kind = static_cast<BlockKind>(S_ResynchRequest + code * 2 + ((pcb & PcbSResponse) ? 1 : 0));
        return block;
    }
    return std::nullopt;
}

void Protocol_T1::Elaborate(bool chaining, const binary::Binary& piece, RApdu& response) {
    BlockKind kind = chaining ? I_Chained : I_Last;
    int retries = 0;
    std::optional<BlockKind> remembered;
    binary::Binary collection;
    // The last block built of each family: a retry sends it again unchanged.
    binary::Binary iBlock;
    binary::Binary rBlock;
    binary::Binary sBlock;
    const binary::Binary* current = nullptr;

    auto newIBlock = [&](BlockKind iKind) {
        kind = iKind;
        iBlock = BuildBlock(iKind, m_ns, piece);
        m_ns ^= 1;
        current = &iBlock;
    };
    auto newRBlock = [&](BlockKind rKind, uint8_t nr) {
        kind = rKind;
        rBlock = BuildBlock(rKind, nr, {});
        current = &rBlock;
    };
    auto newSBlock = [&](BlockKind sKind, const binary::Binary& inf) {
        kind = sKind;
        sBlock = BuildBlock(sKind, 0, inf);
        current = &sBlock;
    };
    // A new round of S(RESYNCH request), within the bound of the command.
    auto startResynchRound = [&] {
        if (++m_resynchs > MaxResynchsPerCommand) {
            RestoreDefaults();
            ThrowTooManyResynchs();
        }
        retries = 1;
    };
    // ISO/IEC 7816-3, 11.6.3.2 rule 7.4.2: S(RESYNCH request) after the attempts.
    auto resynchronise = [&] {
        startResynchRound();
        if (!remembered) remembered = kind;
        newSBlock(S_ResynchRequest, {});
    };
    auto retryOrResynchronise = [&](const binary::Binary* block) {
        if (++retries < MaxRetries) {
            current = block;
        } else {
            resynchronise();
        }
    };

    newIBlock(kind);
    for (;;) {
        binary::Binary received;
        std::optional<Block> answer;
        if (TransmitBlock(*current, received)) answer = CheckBlock(received);

        if (kind == S_ResynchRequest) {
            if (answer && answer->kind == S_ResynchResponse) {
                // ISO/IEC 7816-3, 11.6.3.2 rule 6: after S(RESYNCH response) both
                // sides start over with the defaults and N(S) 0.
                RestoreDefaults();
                const BlockKind interrupted = *remembered;
                remembered.reset();
                // The card has forgotten the chain: resending the interrupted block
                // alone would hand it a command or response that is not whole.
                if (!collection.empty() || !IsIBlock(interrupted)) {
                    throw Exception("Цепочка блоков T=1 прервана ресинхронизацией: ответ карты потерян",
                                    ZORVIK_PLACE(ElaborateWhere));
                }
                // The command starts over from its first piece, cut for the default
                // IFSC now in force: a piece cut for a larger one would be refused
                // every time.
                m_restartCommand = true;
                return;
            }
            if (answer && IsRError(answer->kind)) {
                // An R-block with an error starts the resynchronisation over.
                startResynchRound();
                continue;
            }
            if (++retries > MaxResynchSends) {
                RestoreDefaults();
                ThrowUnexpected();
            }
            continue;
        }

        if (!answer) {
            // An invalid block or none (ISO/IEC 7816-3, 11.6.3.2): the same block
            // again, and resynchronisation after the third attempt (rule 7.4.2).
            if (IsIBlock(kind)) {
                retryOrResynchronise(&iBlock);
            } else if (kind == R_Ok) {
                retryOrResynchronise(&rBlock);
            } else {
                resynchronise();
            }
            continue;
        }
        const Block& block = *answer;

        if (ResumesRemembered(kind)) {
            // An error indication answering our S-response or R-block with an
            // error is not retried block by block: resynchronise.
            if (IsRError(block.kind) || !remembered) {
                resynchronise();
                continue;
            }
            // Anything else answers the block the S-exchange interrupted.
            kind = *remembered;
            remembered.reset();
        }

        // An I-block from the card: collect it, ask for the next or finish.
        auto collect = [&]() -> bool {
            if (kind == R_Ok && block.sequence == m_cardNs) {
                // A repeated I-block of the card brings nothing new: ask again for
                // the next one, as often as for a block that did not arrive
                // (ISO/IEC 7816-3, 11.6.3.2 rule 7.4.2).
                retryOrResynchronise(&rBlock);
                return false;
            }
            m_cardNs = block.sequence;
            collection += block.inf;
            if (collection.size() > MaxResponseLength) {
                throw Exception("Ответ карты по протоколу T=1 длиннее 65538 байт", ZORVIK_PLACE(ElaborateWhere));
            }
            if (block.kind == I_Chained) {
                // ISO/IEC 7816-3, 11.6.2.3 rule 5: R(N(R)) asks for the next block.
                newRBlock(R_Ok, static_cast<uint8_t>(block.sequence ^ 1));
                // Only a block that brings part of the response counts as progress;
                // a card chaining empty blocks would otherwise never be given up.
                if (!block.inf.empty()) {
                    retries = 0;
                } else if (++retries >= MaxRetries) {
                    resynchronise();
                }
                return false;
            }
            if (collection.empty()) {
                // An empty response cannot carry a status word: ask again.
                if (!remembered) remembered = kind;
                newRBlock(R_OtherError, block.sequence);
                if (++retries >= MaxRetries) resynchronise();
                return false;
            }
            return true;
        };

        switch (kind) {
            case I_Chained:
                if (block.kind == R_Ok) return;  // ISO/IEC 7816-3, 11.6.2.3 rule 5: the piece is acknowledged
                if (IsRError(block.kind)) {
                    retryOrResynchronise(&iBlock);
                } else if (block.kind == S_AbortRequest) {
                    remembered = kind;
                    newSBlock(S_AbortResponse, {});
                } else {
                    resynchronise();
                }
                break;
            case I_Last:
            case R_Ok:
                if (IsIBlock(block.kind)) {
                    if (collect()) {
                        if (collection.size() < 2) {
                            throw Exception("Ответ карты по протоколу T=1 короче слова состояния",
                                            ZORVIK_PLACE(ElaborateWhere));
                        }
                        response.Clear();
                        response.sw1 = collection[collection.size() - 2];
                        response.sw2 = collection[collection.size() - 1];
                        collection.resize(collection.size() - 2);
                        response.data = std::move(collection);
                        return;
                    }
                } else if (kind == I_Last && block.kind == S_WtxRequest) {
                    // ISO/IEC 7816-3, 11.6.2.3 rule 3: the card asks for more time.
                    m_wtx = block.inf[0];
                    remembered = kind;
                    newSBlock(S_WtxResponse, block.inf);
                } else if (kind == I_Last && block.kind == S_IfsRequest) {
                    // ISO/IEC 7816-3, 11.6.2.3 rule 4: the card announces a new IFSC.
                    m_ifs = block.inf[0];
                    remembered = kind;
                    newSBlock(S_IfsResponse, block.inf);
                } else if (kind == I_Last && IsRBlock(block.kind)) {
                    retryOrResynchronise(&iBlock);
                } else if (kind == R_Ok && IsRError(block.kind)) {
                    retryOrResynchronise(&rBlock);
                } else if (kind == R_Ok && block.kind == S_AbortRequest) {
                    remembered = kind;
                    newSBlock(S_AbortResponse, {});
                } else {
                    resynchronise();
                }
                break;
            default: resynchronise(); break;
        }
    }
}

void Protocol_T1::Command(const CApdu& command, RApdu& response) {
    // A command that cannot be encoded is the caller's error: it fails before
    // anything is sent, and the card keeps its state.
    binary::Binary encoded;
    command.Encode(encoded, false);
    m_resynchs = 0;
    try {
        // Every restart follows a resynchronisation, and those are bounded.
        while (!SendCommand(encoded, response)) {
        }
    } catch (const Exception& cause) {
        Fail(cause, response);
    }
}

bool Protocol_T1::SendCommand(const binary::Binary& encoded, RApdu& response) {
    // Every I-block, prologue and epilogue included, stays within 250 bytes and
    // carries at most IFS bytes of information.
    // IFS 00 is reserved (ISO/IEC 7816-3, 11.4.2): pieces of no bytes would
    // never carry the command.
    ZORVIK_CHECK("ZORVIK::Protocol_T1::Command", m_ifs != 0, "IFS 0 не позволяет передать команду по протоколу T=1");
    auto pieceSize = [this] {
        const size_t limit = std::min<size_t>(3u + m_edcLength + m_ifs, MaxBlockLength);
        return limit - 3u - m_edcLength;
    };
    m_restartCommand = false;
    const size_t length = encoded.size();
    size_t offset = 0;
    if (length > pieceSize()) {
        // ISO/IEC 7816-3, 11.6.2.2: chained I-blocks; a command that is a
        // multiple of the piece size ends with an empty I-block.
        for (size_t size = pieceSize(); length - offset >= size; size = pieceSize()) {
            Elaborate(true, binary::Slice(encoded, static_cast<uint32_t>(offset), static_cast<uint32_t>(size)),
                      response);
            if (m_restartCommand) return false;
            offset += size;
        }
    }
    Elaborate(false, binary::Slice(encoded, static_cast<uint32_t>(offset), static_cast<uint32_t>(length - offset)),
              response);
    return !m_restartCommand;
}

void Protocol_T1::Fail(const Exception& cause, RApdu& response) {
    std::string message = "Ошибка обмена по протоколу T=1: " + cause.Message();
    // The card starts over with N(S) 0 after a reset; so does the engine.
    ResetLink();
    try {
        if (m_resetOnFailure) {
            ATR atr;
            m_reader->Reset(atr);
            message += " (карта сброшена)";
        } else {
            m_reader->PowerOff();
            message += " (питание карты снято)";
        }
    } catch (const Exception& recovery) {
        message += "; " + recovery.Message();
    }
    response.Clear();
    CardDrvException error(message, 0, ZORVIK_PLACE("ZORVIK::Protocol_T1::Command"));
    error.SetInner(cause);
    throw error;
}

bool Protocol_T1::Negotiate(BlockKind request, uint8_t value, uint8_t& field) {
    field = value;
    const binary::Binary block = BuildBlock(request, 0, binary::Binary{value});
    for (int attempt = 0; attempt < 2; ++attempt) {
        binary::Binary received;
        if (!TransmitBlock(block, received)) continue;
        const std::optional<Block> answer = CheckBlock(received);
        if (answer && answer->kind == request + 1) {
            field = answer->inf[0];
            return true;
        }
    }
    return false;
}

bool Protocol_T1::NegotiateIfs(uint8_t value) { return Negotiate(S_IfsRequest, value, m_ifs); }

bool Protocol_T1::NegotiateWtx(uint8_t value) { return Negotiate(S_WtxRequest, value, m_wtx); }

ByteLink_T1::ByteLink_T1(iReader* reader, iByteLink* link, iLog* log) : Protocol_T1(reader), m_link(link), m_log(log) {}

bool ByteLink_T1::TransmitBlock(const binary::Binary& block, binary::Binary& received) {
    m_lastSentBlock = block;
    const bool trace = m_log != nullptr && m_reader->GetParams().transport_log;
    if (trace) Trace(">>>", block);
    m_link->SendBytes(block.data(), static_cast<uint32_t>(block.size()));

    received.clear();
    auto read = [&](size_t count) {
        for (size_t i = 0; i < count; ++i) {
            uint8_t byte = 0;
            if (!m_link->ReceiveByte(byte)) return false;
            received.push_back(byte);
        }
        return true;
    };
    if (!read(3) || !read(received[2]) || !read(m_edcLength)) return false;
    if (trace) Trace("<<<", received);
    return true;
}

void ByteLink_T1::Trace(const char* direction, const binary::Binary& block) const {
    const size_t infLength = block[2];
    const binary::Binary inf = binary::Slice(block, 3, static_cast<uint32_t>(infLength));
    const std::string name = BlockName(block[1]);
    const std::string infText = binary::ToHex(inf, 1);
    if (m_edcLength == 2) {
        const std::string crc = binary::ToHex(binary::Slice(block, static_cast<uint32_t>(3 + infLength), 2), 1);
        LogPrintf(m_log, 3, "%s [%s]\n NAD:%02X PCB:%02X LEN:%02X\n INF:\n %s\n CRC:%s\n ~~~~~~", direction,
                  name.c_str(), block[0], block[1], block[2], infText.c_str(), crc.c_str());
    } else {
        LogPrintf(m_log, 3, "%s [%s]\n NAD:%02X PCB:%02X LEN:%02X\n INF:\n %s\n LRC:%02X\n ~~~~~~", direction,
                  name.c_str(), block[0], block[1], block[2], infText.c_str(), block[3 + infLength]);
    }
}

}  // namespace ZORVIK
