// Presence marks in the group bar: what is asked when, over the fake prober, and the marks the
// answers leave on the items.
#include <QtTest>

#include "app/GroupPresence.h"
#include "app/frmMain.h"
#include "fakes/FakePlatform.h"
#include "protocol/Addresses.h"
#include "support/MainFormFixture.h"
#include "widgets/TfcOutlookBar.h"
#include "widgets/TfcOutlookList.h"
#include "widgets/TfcOutlookListItem.h"
#include "widgets/TfcOutlookPage.h"
#include "widgets/TfcShapeBtn.h"

using namespace lanquill;
using widgets::Presence;

namespace {

// Two workgroups; PC-C has no address in the book, PC-D a name where the address belongs, and
// "PC.E.F" a name no NetBIOS name can be.
const QByteArray kBook = R"(<Lanquill>
  <group id="WG1">
    <computer id="PC-A"><ComputerName>PC-A</ComputerName><IpAddress>10.1.0.1</IpAddress></computer>
    <computer id="PC-B"><ComputerName>PC-B</ComputerName><IpAddress>10.1.0.2</IpAddress></computer>
    <computer id="PC-C"><ComputerName>PC-C</ComputerName><IpAddress></IpAddress></computer>
    <computer id="PC-D"><ComputerName>pc-d</ComputerName><IpAddress>PC-D</IpAddress></computer>
    <computer id="PC.E.F"><ComputerName>PC.E.F</ComputerName><IpAddress></IpAddress></computer>
  </group>
  <group id="WG2">
    <computer id="PC-E"><ComputerName>PC-E</ComputerName><IpAddress>10.2.0.5</IpAddress></computer>
  </group>
</Lanquill>
)";

QStringList dotted(const std::vector<platform::PresenceTarget>& targets) {
    QStringList out;
    for (const platform::PresenceTarget& target : targets)
        out << QString::fromStdString(std::holds_alternative<platform::Ipv4>(target)
                                          ? protocol::formatIpv4(std::get<platform::Ipv4>(target))
                                          : std::get<std::string>(target));
    return out;
}

QList<QStringList> roundsOf(const fakes::FakePresenceProber& prober) {
    QList<QStringList> rounds;
    for (const auto& round : prober.rounds())
        rounds << dotted(round);
    return rounds;
}

QList<Presence> marksOf(const widgets::TfcOutlookList* list) {
    QList<Presence> marks;
    for (int i = 0; i < list->count(); ++i)
        marks << list->item(i)->presence();
    return marks;
}

} // namespace

class tst_presence : public fakes::MainFormFixture {
    Q_OBJECT

private:
    // Lets queued checks run and waits for any round they started.
    void settle() {
        QCoreApplication::processEvents();
        QTRY_VERIFY(!form_->groupPresence()->roundUnderWay());
        QCoreApplication::processEvents();
    }

private Q_SLOTS:
    void init() { resetFixture(); }
    void cleanup() { tearDownFixture(); }

    void roundsFollowTheWindow_data() {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QList<QStringList>>("rounds");
        // A computer without an address is asked by its NetBIOS name (upper-cased).
        const QStringList wg1 = {"10.1.0.1", "10.1.0.2", "PC-C", "PC-D"};
        QTest::newRow("never shown") << QStringList{} << QList<QStringList>{};
        QTest::newRow("shown minimised") << QStringList{"minimise"} << QList<QStringList>{};
        QTest::newRow("shown") << QStringList{"show"} << QList<QStringList>{wg1};
        QTest::newRow("shown, hidden, shown again at once")
            << QStringList{"show", "hide", "show"} << QList<QStringList>{wg1};
        QTest::newRow("minimised and restored at once")
            << QStringList{"show", "minimise", "restore"} << QList<QStringList>{wg1};
        QTest::newRow("other page, then back at once")
            << QStringList{"show", "page 2", "page 1"} << QList<QStringList>{wg1, {"10.2.0.5"}};
        QTest::newRow("page changed while hidden")
            << QStringList{"page 2", "show"} << QList<QStringList>{{"10.2.0.5"}};
        QTest::newRow("book reloaded at once")
            << QStringList{"show", "reload"} << QList<QStringList>{wg1};
    }
    void roundsFollowTheWindow() {
        QFETCH(QStringList, steps);
        QFETCH(QList<QStringList>, rounds);
        createForm(kBook);
        QVERIFY(form_->groupPresence() != nullptr);
        settle();
        for (const QString& step : steps) {
            if (step == "show") {
                showForm();
            } else if (step == "hide") {
                form_->hide();
            } else if (step == "minimise") {
                form_->showMinimized();
            } else if (step == "restore") {
                form_->showNormal();
            } else if (step.startsWith("page ")) {
                form_->fcOutlookBar1->setActivePage(
                    form_->fcOutlookBar1->page(step.mid(5).toInt() - 1));
            } else if (step == "reload") {
                form_->LoadXMLFile(form_->ConfigPath());
            }
            settle();
        }
        QCOMPARE(roundsOf(fake_->presence), rounds);
    }

    void marksFollowTheAnswers() {
        fake_->presence.setOnline({platform::Ipv4{10, 1, 0, 2}, std::string("PC-C")});
        createForm(kBook);
        showForm();
        settle();
        const widgets::TfcOutlookList* list = form_->fcOutlookBar1->page(0)->outlookList();
        // The group item and the computer that cannot be asked carry no mark.
        const QList<Presence> marks{Presence::Unknown, Presence::Offline, Presence::Online,
                                    Presence::Online,  Presence::Offline, Presence::Unknown};
        QCOMPARE(marksOf(list), marks);
        // A reload builds new items: they show the answers already in hand, asking nothing.
        form_->LoadXMLFile(form_->ConfigPath());
        settle();
        QCOMPARE(fake_->presence.rounds().size(), std::size_t(1));
        QCOMPARE(marksOf(form_->fcOutlookBar1->page(0)->outlookList()), marks);
    }

    // Over a clock of the test's own: an address is asked again once the least spacing has
    // passed (the refresh's timer may fire a little before the interval), and the marks then
    // follow the new answers.
    void askedAgainAfterTheInterval_data() {
        QTest::addColumn<int>("secondsLater");
        QTest::addColumn<int>("roundsAfter");
        QTest::addColumn<Presence>("markAfter");
        QTest::newRow("1 s later") << 1 << 1 << Presence::Online;
        QTest::newRow("19 s later") << 19 << 1 << Presence::Online;
        QTest::newRow("a refresh 28.5 s later") << 28 << 2 << Presence::Offline;
        QTest::newRow("30 s later") << 30 << 2 << Presence::Offline;
        QTest::newRow("an hour later") << 3600 << 2 << Presence::Offline;
    }
    void askedAgainAfterTheInterval() {
        QFETCH(int, secondsLater);
        QFETCH(int, roundsAfter);
        QFETCH(Presence, markAfter);
        fakes::FakePresenceProber prober;
        app::GroupPresence::Clock::time_point now{};
        app::GroupPresence presence(prober, [&now] { return now; });
        widgets::TfcOutlookList list;
        list.addItem();
        const platform::Ipv4 address{10, 1, 0, 9};
        prober.setOnline({address});
        presence.check(&list, {address});
        QTRY_COMPARE(list.item(0)->presence(), Presence::Online);
        prober.setOnline({});
        now += std::chrono::seconds(secondsLater);
        QSignalSpy finished(&presence, &app::GroupPresence::roundFinished);
        presence.check(&list, {address});
        if (roundsAfter == 2)
            QVERIFY(finished.wait());
        QCOMPARE(prober.rounds().size(), std::size_t(roundsAfter));
        QCOMPARE(list.item(0)->presence(), markAfter);
    }
};

QTEST_MAIN(tst_presence)
#include "tst_presence.moc"
