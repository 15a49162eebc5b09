// The console's invite action on the real window: a double click on the banner asks the Qt
// backend to open exactly the page's invite view on the loopback address and the web port,
// and nothing when the room has no web entrance (it says so in a message box instead). The
// backend's call is caught by Qt's own URL handler hook, so no browser starts.
#include "RoomFixture.h"

#include <QDesktopServices>
#include <QObject>
#include <QTest>
#include <QTextEdit>
#include <QUrl>

#include <optional>

namespace {

using namespace app_test;

// Counts the URLs the backend hands to the system's browser while it is installed.
class OpenedUrls final : public QObject {
    Q_OBJECT
public:
    OpenedUrls()
    {
        QDesktopServices::setUrlHandler("http", this, "open");
    }
    ~OpenedUrls() override { QDesktopServices::unsetUrlHandler("http"); }

    QStringList urls;

public slots:
    void open(const QUrl& url) { urls.append(url.toString()); }
};

class InviteAction : public Room { };

TEST_F(InviteAction, TheBannersDoubleClickOpensTheInviteViewOnlyWhenTheWebEntranceListens)
{
    struct Case {
        const char* what;
        std::optional<uint16_t> webPort;
        bool entranceOpen;
        QStringList expected;
    };
    const std::vector<Case> cases = {
        { "the entrance listens", 19731, true, { "http://127.0.0.1:19731/#invite" } },
        { "another port", 8080, true, { "http://127.0.0.1:8080/#invite" } },
        { "the port could not be opened", 19731, false, {} },
        { "--no-web", std::nullopt, false, {} },
    };
    QTextEdit* banner = consoleWidget()->findChildren<QTextEdit*>().front();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        service().webPort = c.webPort;
        service().webEntranceOpen = c.entranceOpen;
        OpenedUrls opened;
        QTest::mouseDClick(banner->viewport(), Qt::LeftButton);
        QCoreApplication::processEvents();
        EXPECT_EQ(opened.urls, c.expected);
    }
}

} // namespace

#include "InviteActionTest.moc"
