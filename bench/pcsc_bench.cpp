// One APDU round trip through the card service and PCSC_Reader beside a bare
// SCardTransmit loop, both on the same virtual card behind a private pcscd.
#include <benchmark/benchmark.h>

#include <PCSC/winscard.h>

#include <memory>

#include "sc/card_service/card_service.h"
#include "sc/drivers/pcsc/pcsc_reader.h"
#include "service/log/log.h"
#include "support/pcsc_fixture.h"
#include "support/vpcd_card.h"

namespace {

using namespace ZORVIK;

// The daemon and the card, set up at the first benchmark and kept for all.
struct Bench {
    test::PrivatePcscd& pcscd = test::PrivatePcscd::Get();
    test::VpcdCard card{test::VpcdCardModel::AtrT1};
    bool ready = false;

    Bench() {
        if (!pcscd.Running()) return;
        card.Model().SetT1(true);
        ready = card.Insert(pcscd.CardPort()) && pcscd.WaitForCard(test::PrivatePcscd::Reader0, true);
    }
    static Bench& Get() {
        static Bench bench;
        return bench;
    }
};

const uint8_t kReadBinary[] = {0x00, 0xB0, 0x00, 0x00, 0x10};

void BM_BareSCardTransmit(benchmark::State& state) {
    Bench& bench = Bench::Get();
    if (!bench.ready) {
        state.SkipWithError(("no private pcscd: " + bench.pcscd.Failure()).c_str());
        return;
    }
    SCARDCONTEXT context = 0;
    SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &context);
    SCARDHANDLE card = 0;
    DWORD active = 0;
    if (SCardConnect(context, test::PrivatePcscd::Reader0, SCARD_SHARE_SHARED, SCARD_PROTOCOL_T1, &card, &active) !=
        SCARD_S_SUCCESS) {
        state.SkipWithError("SCardConnect failed");
        SCardReleaseContext(context);
        return;
    }
    static uint8_t answer[MAX_BUFFER_SIZE_EXTENDED];
    for (auto _ : state) {
        DWORD length = sizeof answer;
        if (SCardTransmit(card, SCARD_PCI_T1, kReadBinary, sizeof kReadBinary, nullptr, answer, &length) !=
                SCARD_S_SUCCESS ||
            length != 18) {
            state.SkipWithError("SCardTransmit failed");
            break;
        }
        benchmark::DoNotOptimize(answer);
    }
    SCardDisconnect(card, SCARD_LEAVE_CARD);
    SCardReleaseContext(context);
}
BENCHMARK(BM_BareSCardTransmit)->UseRealTime();

void BM_CardServiceOverPcscReader(benchmark::State& state) {
    Bench& bench = Bench::Get();
    if (!bench.ready) {
        state.SkipWithError(("no private pcscd: " + bench.pcscd.Failure()).c_str());
        return;
    }
    ReaderParams params;
    params.protocols = {1};
    // The framework's chain at log_level 8: the filter lets nothing through.
    auto log = std::make_shared<ImportanceFilter>(8, nullptr);
    auto reader = std::make_shared<PCSC_Reader>(test::PrivatePcscd::Reader0, params, log.get(), false);
    CardService service(CardServiceSettings(), reader, log, nullptr);
    service.PowerOn();
    const CApdu command(0x00, 0xB0, 0x00, 0x00, 16);
    for (auto _ : state) {
        const RApdu& response = service.Command(command, 0x9000);
        benchmark::DoNotOptimize(response.data.data());
    }
    service.PowerOff();
}
BENCHMARK(BM_CardServiceOverPcscReader)->UseRealTime();

}  // namespace
