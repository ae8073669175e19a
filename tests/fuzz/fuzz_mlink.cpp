// mlink frame assembly. The input's first byte picks the device (bit 0: gimbal board or lens) and the number of
// split points (bits 1 to 3); each split point is one more byte, the length of a read. The rest is the line.
//
// The line goes through a parser one byte at a time: every frame it accepts is the device's, and re-encodes to
// exactly the bytes that ended at that point. The same line, cut into the chosen reads, goes through a link's
// receive path: it files the same frames in the same order. Last, a frame built from the line's first bytes
// goes through a fresh parser and comes back whole.
#include <cstring>
#include <vector>

#include "fuzz_support.h"
#include "mlink.h"
#include "tarn_mlink_link.h"

namespace {

using Frame = std::vector<uint8_t>;

Frame Encode(const MlinkMsg &msg) {
    uint8_t bytes[kMlinkFrameMax];
    const size_t size = Mlink_Serialise(&msg, bytes);
    FUZZ_CHECK(size == msg.len + 6u && size <= kMlinkFrameMax);
    return Frame(bytes, bytes + size);
}

// What the link filed, in order. The link's receive path runs on this thread here.
std::vector<Frame> gFiled;

bool EveryFrame(uint8_t) {
    return true;
}

void File(const MlinkMsg &msg) {
    gFiled.push_back(Encode(msg));
}

MlinkLinkConfig ConfigFor(uint8_t devid) {
    MlinkLinkConfig config = {};
    config.devid = devid;
    config.pThreadName = "fuzz";
    config.lockCount = 0;
    config.pollStepMs = 1;
    config.gateFirstCmd = 0xF8;
    config.isReport = EveryFrame;
    config.onReport = File;
    return config;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    fuzz::CatchConsole();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz::ClearConsole();
    fuzz::Input input(data, size);
    const uint8_t shape = input.Byte();
    const uint8_t devid = (shape & 1) != 0 ? kMlinkDevIdLens : kMlinkDevIdXtb;
    std::vector<size_t> reads;
    for (int split = (shape >> 1) & 7; split > 0; --split) {
        reads.push_back(input.Byte());
    }
    const uint8_t *line = input.Rest();
    const size_t length = input.Left();

    std::vector<Frame> accepted;
    MlinkParser parser(devid);
    for (size_t index = 0; index < length; ++index) {
        const MlinkMsg *pMsg = parser.Push(line[index]);
        if (pMsg == nullptr) {
            continue;
        }
        FUZZ_CHECK(pMsg->start == kMlinkStart && pMsg->devid == devid);
        const Frame frame = Encode(*pMsg);
        FUZZ_CHECK(frame.size() <= index + 1);
        FUZZ_CHECK(memcmp(frame.data(), line + index + 1 - frame.size(), frame.size()) == 0);
        accepted.push_back(frame);
    }

    gFiled.clear();
    MlinkLink link(ConfigFor(devid));
    size_t offset = 0;
    for (size_t read : reads) {
        const size_t count = read < length - offset ? read : length - offset;
        link.ParseBytes(line + offset, count);
        offset += count;
    }
    link.ParseBytes(line + offset, length - offset);
    FUZZ_CHECK(gFiled == accepted);

    // The round trip: command and sequence from the line's first two bytes, the rest as payload.
    if (length >= 2) {
        MlinkMsg sent{};
        const size_t payload = length - 2 < 255 ? length - 2 : 255;
        Mlink_Pack(&sent, devid, line[0], line[1], static_cast<uint8_t>(payload), line + 2);
        const Frame frame = Encode(sent);
        MlinkParser fresh(devid);
        for (size_t index = 0; index < frame.size(); ++index) {
            const MlinkMsg *pMsg = fresh.Push(frame[index]);
            FUZZ_CHECK((pMsg != nullptr) == (index + 1 == frame.size()));
            if (pMsg != nullptr) {
                FUZZ_CHECK(Encode(*pMsg) == frame && pMsg->checksum == sent.checksum);
            }
        }
    }
    return 0;
}
