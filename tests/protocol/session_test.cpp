// A message line read back the way lanquilld reads its spool and the desktop program its offers:
// what is written comes back whole, and a line that breaks a rule is refused with its reason.
#include "protocol/SessionProtocol.h"

#include <gtest/gtest.h>

#include <tuple>

using namespace lanquill::protocol;

namespace {

session::Message sample() {
    session::Message m;
    m.id = "00000000001765188000-42-0";
    m.time = "2026-12-08T10:00:00Z";
    m.kind = session::WorkgroupKind;
    m.from = "办公室";
    m.address = "10.0.0.2";
    m.to = "PC-07";
    m.text = "line\r\nnext";
    m.user = "ALICE";
    m.datagram = true;
    return m;
}

std::string replaced(std::string line, std::string_view what, std::string_view with) {
    line.replace(line.find(what), what.size(), with);
    return line;
}

} // namespace

TEST(SessionRecord, ReadsBackWhatIsWritten) {
    const session::Message m = sample();
    const auto r = session::messageFromJson(session::spoolRecord(m));
    ASSERT_TRUE(r);
    EXPECT_EQ(std::tie(r->id, r->time, r->kind, r->from, r->address, r->to, r->text, r->user,
                       r->datagram),
              std::tie(m.id, m.time, m.kind, m.from, m.address, m.to, m.text, m.user, m.datagram));
    const std::string offer = session::offerLine(m);
    EXPECT_EQ(session::messageFromJson(offer)->user, "");
    for (const char* time : {"2026-12-08T11:00:00.250+01:00", "2028-02-29T23:59:59-05:30"})
        EXPECT_TRUE(session::messageFromJson(replaced(offer, m.time, time))) << time;
}

struct BadLine {
    std::string line;
    std::string_view why; // a word the reason must hold
};

TEST(SessionRecord, RefusesBadLinesWithTheirReason) {
    const std::string good = session::offerLine(sample());
    const BadLine cases[] = {
        {"[1,2]", "JSON object"},
        {"{\"id\": ", "JSON object"},
        {replaced(good, R"("id":"00000000001765188000-42-0",)", ""), "\"id\""},
        {replaced(good, R"("00000000001765188000-42-0")", "7"), "\"id\""},
        {replaced(good, "2026-12-08T10:00:00Z", "yesterday"), "time"},
        {replaced(good, "2026-12-08T10:00:00Z", "2026-02-29T10:00:00Z"), "time"},
        {replaced(good, "2026-12-08T10:00:00Z", "2026-12-08T10:00:00.2500Z"), "time"},
        {replaced(good, "workgroup", "shout"), "kind"},
        {replaced(good, R"("address":"10.0.0.2",)", ""), "\"address\""},
        {replaced(good, R"("10.0.0.2")", R"("")"), "address"},
        {replaced(good, R"("PC-07")", "7"), "\"to\""},
        {replaced(good, R"("datagram":true)", R"("datagram":1)"), "datagram"},
        {replaced(good, "{", R"({"user":["ALICE"],)"), "\"user\""},
        {replaced(good, "办公室", std::string(65, 'A')), "from"},
        {replaced(good, "line\\r\\nnext", std::string(64 * 1024 + 1, 'x')), "text"},
    };
    for (const auto& c : cases) {
        std::string why;
        EXPECT_FALSE(session::messageFromJson(c.line, &why)) << c.line.substr(0, 160);
        EXPECT_NE(why.find(c.why), std::string::npos) << why;
    }
}
