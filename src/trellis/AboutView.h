#pragma once

#include <QIcon>
#include <QList>
#include <QString>
#include <QUrl>
#include <QVariant>
#include <QWidget>

#include <functional>
#include <optional>

class QStackedWidget;
class QTabBar;

namespace trellis {

struct AboutLink {
    QString label;
    QUrl url;
};

struct AboutCopyright {
    QString text;
    QUrl url; // empty: plain text
};

struct License {
    QString id;
    QString name;
    QString licenseType;
    QString copyright;
    QUrl url;
    QString licenseText;
};

struct AboutTab {
    QString id;
    QString title;
    std::function<QWidget *()> content; // called once, when the view is built
};

// What an About view shows.
struct AboutInfo {
    QString appName;
    QString version;
    QString description;
    std::optional<AboutLink> website;
    std::optional<AboutLink> support;
    std::optional<AboutCopyright> copyright;
    QList<License> licenses;
    QList<AboutTab> extraTabs;
    QString aboutTabLabel = QStringLiteral("About");
    QString licensesTabLabel = QStringLiteral("Licenses");
    int height = 460;
    QIcon iconImage; // null: the application's own icon
};

// "<short version> (<build>)"; "0.1" and "1" stand in for missing or non-text values.
QString aboutVersionText(const QVariant &shortVersion, const QVariant &build);

// An application's icon, name and version above its pages: the About page (description,
// links, notice), then extra pages, then the licences. A page picker appears only when
// there are at least two pages.
class AboutView : public QWidget {
    Q_OBJECT

public:
    explicit AboutView(AboutInfo info, QWidget *parent = nullptr);

    // Null when there is a single page.
    QTabBar *pagePicker() const { return picker_; }
    int selection() const;
    QStringList pageTitles() const;

private:
    QWidget *makeAboutPage();
    QWidget *makeLicensesPage();

    AboutInfo info_;
    QTabBar *picker_ = nullptr;
    QStackedWidget *pages_ = nullptr;
};

} // namespace trellis
