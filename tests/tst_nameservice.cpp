// The NetBIOS name this machine goes by on the network, from its host name.
#include "platform/NameService.h"
#include "protocol/OemCodePage.h"

#include <QtTest>

using namespace lanquill::platform;
using namespace lanquill::protocol;

class TestNameService : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void ownNameIsANetbiosName() {
        const std::string own = ownNetbiosName();
        QVERIFY(!own.empty() && own.size() <= 15);
        QCOMPARE(oem::upperAscii(own), own);
    }
};

QTEST_GUILESS_MAIN(TestNameService)
#include "tst_nameservice.moc"
