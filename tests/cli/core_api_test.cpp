// The C interface the browser page calls, used as the page uses it: bytes
// and texts through the shared buffer, several transactions at once.
#include "protocol/core_api.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

int receive(int h, const std::string &bytes, double now)
{
    std::memcpy(vc_buffer(), bytes.data(), bytes.size());
    return vc_tx_received(h, static_cast<int>(bytes.size()), now);
}

TEST(CoreApi, TransactionsRunSideBySideThroughTheSharedBuffer)
{
    const int target[VC_MAX_FIELDS] = {1, 0, 1, 1};  // wiegand26, direct, static, off
    int read = vc_tx_begin(VC_READ, VC_LNX, nullptr, 1000, 0);
    int apply = vc_tx_begin(VC_APPLY, VC_LNX, target, 1000, 0);
    ASSERT_GE(read, 0);
    ASSERT_GE(apply, 0);
    ASSERT_NE(read, apply);

    ASSERT_EQ(vc_tx_start(read, 0), VC_SEND);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(vc_tx_out(read)), vc_tx_out_length(read)), "AT+READS_LNX");
    ASSERT_EQ(vc_tx_start(apply, 0), VC_SEND);
    EXPECT_DOUBLE_EQ(vc_tx_deadline(read), 1000);

    // The read's reply in two pieces; whole once the line stays quiet.
    EXPECT_EQ(receive(read, "AT+READS_LNX - OK! >", 10), VC_WAIT);
    EXPECT_EQ(receive(apply, "AT+READS_LNX - OK! >> 1.00TMX1AO\r\n", 12), VC_WAIT);
    EXPECT_EQ(receive(read, "> 1.00W441DF\r\n", 40), VC_WAIT);
    EXPECT_DOUBLE_EQ(vc_tx_deadline(read), 60);
    EXPECT_EQ(vc_tx_timer(read, 59), VC_WAIT);
    EXPECT_EQ(vc_tx_timer(read, 60), VC_DONE);
    EXPECT_STREQ(vc_status_name(vc_tx_status(read)), "read");
    EXPECT_STREQ(vc_tx_firmware(read), "1.00");
    EXPECT_STREQ(vc_value_name(VC_LNX, 0, vc_tx_before(read, 0)), "wiegand44");
    EXPECT_STREQ(vc_value_name(VC_LNX, 3, vc_tx_before(read, 3)), "off");
    EXPECT_EQ(vc_tx_after(read, 0), -2);
    vc_tx_end(read);
    EXPECT_EQ(vc_tx_status(read), -1);

    // Stopped in the quiet time before its write: nothing is written.
    vc_tx_stop(apply);
    EXPECT_EQ(vc_tx_action(apply), VC_DONE);
    EXPECT_STREQ(vc_status_name(vc_tx_status(apply)), "skipped");
    EXPECT_EQ(vc_tx_wrote(apply), 0);
    vc_tx_end(apply);

    // Every slot taken, then one freed; a profile that is not complete is
    // refused.
    int handles[VC_MAX_TRANSACTIONS];
    for (int &h : handles)
        ASSERT_GE(h = vc_tx_begin(VC_READ, VC_USB, nullptr, 500, 0), 0);
    EXPECT_EQ(vc_tx_begin(VC_READ, VC_USB, nullptr, 500, 0), -1);
    vc_tx_end(handles[7]);
    const int partial[VC_MAX_FIELDS] = {1, -1, 1, 1};
    EXPECT_EQ(vc_tx_begin(VC_APPLY, VC_LNX, partial, 500, 0), -1);
    EXPECT_EQ(vc_tx_begin(VC_READ, VC_USB, nullptr, 500, 0), 7);
    for (int h : handles)
        vc_tx_end(h);
}

// The page words a failed read from the reason the core gives, as the window
// program words it from the reply.
TEST(CoreApi, AReadThatFailsSaysWhy)
{
    struct Case {
        const char *reply;  // nullptr: the line fails instead
        const char *status;
        int reason;
    } cases[] = {
        {"AT+READS_LNX - OK! >> 1.00TMX1AO\r\n", "read", VC_REASON_NONE},
        {"", "no_reader", VC_REASON_SILENT},
        {"\x13\x7f garbage", "no_reader", VC_REASON_GARBLED},
        {"AT+READS_LNX - UNKNOWN CMD!\r\n", "wrong_reader", VC_REASON_REFUSAL},
        {"AT+READS_LNX - OK!\r\n", "wrong_reader", VC_REASON_UNRECOGNISED},
        {"AT+READS_LNX - OK! >> 1.00TM", "wrong_reader", VC_REASON_UNRECOGNISED},
        {"AT+READS_LNX - OK! >> 1.01TMX1AO\r\n", "wrong_reader", VC_REASON_FIRMWARE},
        {"AT+READS_LNX - OK! >> 1.00QQQ1AO\r\n", "wrong_reader", VC_REASON_NOT_IDENTIFIED},
        {nullptr, "no_reader", VC_REASON_LINE_LOST},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.reply ? c.reply : "(line fails)");
        int h = vc_tx_begin(VC_READ, VC_LNX, nullptr, 1000, 0);
        ASSERT_GE(h, 0);
        ASSERT_EQ(vc_tx_start(h, 0), VC_SEND);
        if (c.reply == nullptr)
            EXPECT_EQ(vc_tx_line_failed(h, 5), VC_DONE);
        else if (*c.reply != '\0')
            receive(h, c.reply, 5);
        if (vc_tx_action(h) != VC_DONE)
            EXPECT_EQ(vc_tx_timer(h, 1000), VC_DONE);
        EXPECT_STREQ(vc_status_name(vc_tx_status(h)), c.status);
        EXPECT_EQ(vc_tx_reason(h), c.reason);
        vc_tx_end(h);
    }
    EXPECT_EQ(vc_tx_reason(VC_MAX_TRANSACTIONS), -1);
}

TEST(CoreApi, ProfilesReadAndWrittenAsTheConsoleToolDoes)
{
    const int usb[VC_MAX_FIELDS] = {1, 1, 2, 1};  // all_os, dec, 4, hid_em
    int length = vc_profile_text(VC_USB, usb);
    ASSERT_GT(length, 0);
    int kind = -1;
    int values[VC_MAX_FIELDS] = {};
    ASSERT_EQ(vc_profile_parse(length, &kind, values), 0) << vc_profile_error();
    EXPECT_EQ(kind, VC_USB);
    EXPECT_EQ(std::memcmp(values, usb, sizeof usb), 0);

    const std::string twice = "{\"format\": \"velmora-profile/1\",\n\"kind\": \"usb\", \"kind\": \"lnx\"}";
    std::memcpy(vc_buffer(), twice.data(), twice.size());
    EXPECT_EQ(vc_profile_parse(static_cast<int>(twice.size()), &kind, values), -1);
    EXPECT_STREQ(vc_profile_error(), "line 2, column 16: the key \"kind\" is given twice");
}

}  // namespace
