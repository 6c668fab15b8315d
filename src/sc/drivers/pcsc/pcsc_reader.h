// The PC/SC reader driver: a card reader reached through pcsc-lite. It powers the
// card on by connecting, resets it by reconnecting, and sends each command through
// SCardTransmit with its T=0 engine or its T=1 (and raw) engine.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sc/drivers/pcsc/pcsc_api.h"
#include "sc/exchange/protocol_t0.h"
#include "sc/exchange/reader.h"

namespace ZORVIK {

class iLog;
class PCSC_Reader;

// The card-exchange parameters followed by one field per reader attribute, in
// the alphabetical order of the attribute names.
struct PcscCardAttributes : CardExchParam {
    binary::Binary atrString;
    uint32_t channelId = 0;
    uint32_t characteristics = 0;
    uint32_t currentBwt = 0;
    uint32_t currentClk = 0;
    uint32_t currentCwt = 0;
    uint32_t currentD = 0;
    uint32_t currentEbcEncoding = 0;
    uint32_t currentF = 0;
    uint32_t currentIfsc = 0;
    uint32_t currentIfsd = 0;
    uint32_t currentN = 0;
    uint32_t currentProtocolType = 0;
    uint32_t currentW = 0;
    uint32_t defaultClk = 0;
    uint32_t defaultDataRate = 0;
    std::string deviceFriendlyName;
    std::string deviceSystemName;
    uint32_t deviceUnit = 0;
    uint32_t iccInterfaceStatus = 0;
    uint32_t iccPresence = 0;
    uint32_t iccTypePerAtr = 0;
    uint32_t maxClk = 0;
    uint32_t maxDataRate = 0;
    uint32_t maxIfsd = 0;
    uint32_t powerMgmtSupport = 0;
    uint32_t asyncProtocolTypes = 0;
    std::string vendorIfdType;
    uint32_t vendorIfdVersion = 0;
    std::string vendorName;
};

// T=0 over PC/SC: each command TPDU goes to the reader as it stands.
class PCSC_Reader_T0 : public Protocol_T0 {
public:
    explicit PCSC_Reader_T0(PCSC_Reader* reader);
    void RR_Command(const CApdu& tpdu, RApdu& response) override;

private:
    PCSC_Reader* m_pcscReader;
};

// T=1 and raw over PC/SC: the service runs the block protocol, so the whole
// command APDU goes in one transmission.
class PCSC_Reader_T1 {
public:
    explicit PCSC_Reader_T1(PCSC_Reader* reader);
    PCSC_Reader_T1(const PCSC_Reader_T1&) = delete;
    PCSC_Reader_T1& operator=(const PCSC_Reader_T1&) = delete;
    virtual void Command(const CApdu& command, RApdu& response);
    virtual ~PCSC_Reader_T1() = default;

private:
    PCSC_Reader* m_reader;
};

class PCSC_Reader : public iReader {
public:
    // Mifare emulation state.
    static constexpr uint32_t MifareOn = 0;
    static constexpr uint32_t MifareRequested = 1;
    static constexpr uint32_t MifareNotAsked = 2;
    // OMNIKEY's control function 3213 (0x313234 in the Windows form).
    static constexpr DWORD MifareControlCode = SCARD_CTL_CODE(3213);
    // How long the reader waits for the card to come back after the switch.
    static constexpr std::chrono::seconds MifareWaitLimit{5};
    static constexpr size_t MaxReaderName = 256;
    // pcsc-lite's largest answer: 65,536 data bytes, the status word and room for
    // an extended header; it holds every extended response.
    static constexpr size_t ReceiveBufferSize = MAX_BUFFER_SIZE_EXTENDED;

    // An empty name is refused with "Wrong reader name" (code 36), a name of 256
    // characters or more with "Reader name too long" (code 15). log may be null
    // (no TPDU dumps); api is not owned.
    PCSC_Reader(const std::string& readerName, const ReaderParams& params, iLog* log, bool mifareEmulation,
                PcscApi& api = SystemPcscApi());
    PCSC_Reader(const PCSC_Reader&) = delete;
    PCSC_Reader& operator=(const PCSC_Reader&) = delete;
    ~PCSC_Reader() override;

    const ReaderParams& GetParams() const override { return m_params; }
    void PowerOn(ATR& atr) override;
    void PowerOff() override;
    void Reset(ATR& atr) override;
    binary::Binary GetATR() const override { return m_atr; }
    void Command(const CApdu& command, RApdu& response) override;
    // Whether a card lies in the reader, connected or not.
    bool IsPowered() const override;
    CardExchParam& GetCardExchParam(CardExchParam& param) override;
    // The same fields, then every reader attribute.
    virtual PcscCardAttributes& GetCardExchParam(PcscCardAttributes& record);
    virtual SCARDCONTEXT GetContext() const { return m_context; }
    virtual SCARDHANDLE GetCardHandle() const { return m_card; }
    virtual std::string GetReaderName() const { return m_readerName; }

    // The protocol of the connection as PC/SC reports it (SCARD_PROTOCOL_T0 ...).
    DWORD GetActiveProtocol() const { return m_activeProtocol; }
    uint32_t GetMifareState() const { return m_mifareState; }

    // One transmission for the engines: request out with the protocol control
    // information of the active protocol, the whole answer back. Failures carry
    // the exchange dump (code 19); TPDU dumps go to the log with transport_log.
    binary::Binary Transmit(const binary::Binary& request);

private:
    void ConnectByProtocolList(bool reconnect);
    void SwitchMifareEmulation(bool on);
    void WaitForCardAfterSwitch();
    binary::Binary ReadAtr();
    uint32_t ReadNumericAttribute(DWORD attribute);
    std::string ReadTextAttribute(DWORD attribute);
    void Dump(const char* direction, const binary::Binary& bytes);
    void Disconnect(DWORD disposition);

    PcscApi& m_api;
    std::string m_readerName;
    SCARDCONTEXT m_context = 0;
    SCARDHANDLE m_card = 0;
    DWORD m_activeProtocol = SCARD_PROTOCOL_UNDEFINED;
    binary::Binary m_atr;
    binary::Binary m_receiveBuffer;
    iLog* m_log;
    ReaderParams m_params;
    uint32_t m_mifareState;
    std::unique_ptr<PCSC_Reader_T0> m_t0;
    std::unique_ptr<PCSC_Reader_T1> m_t1;
};

// Fills names with the PC/SC readers, in the service's order; with onlyWithCard
// only those holding a card. Returns the PC/SC result: a failing context or size
// query ends quietly with it; a failing name query throws "SCardListReaders [2]:"
// (code 0).
LONG getPCSCReaderList(std::vector<std::string>& names, bool onlyWithCard, PcscApi& api = SystemPcscApi());

}  // namespace ZORVIK
