#include "trellis/AboutView.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFrame>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScrollArea>
#include <QStackedWidget>
#include <QStyle>
#include <QTabBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace trellis {

namespace {

constexpr int iconSide = 120;
constexpr qreal iconRadius = 27;

QPixmap roundedIcon(const QIcon &icon, qreal dpr)
{
    QPixmap pixmap(QSize(iconSide, iconSide) * dpr);
    pixmap.setDevicePixelRatio(dpr);
    pixmap.fill(Qt::transparent);
    if (icon.isNull())
        return pixmap;
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath clip;
    clip.addRoundedRect(QRectF(0, 0, iconSide, iconSide), iconRadius, iconRadius);
    painter.setClipPath(clip);
    icon.paint(&painter, QRect(0, 0, iconSide, iconSide));
    return pixmap;
}

QLabel *secondaryLabel(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setForegroundRole(QPalette::PlaceholderText);
    return label;
}

// A link drawn as a rounded pill with a leading symbol.
QPushButton *linkPill(const QString &iconName, const AboutLink &link, QWidget *parent)
{
    auto *button = new QPushButton(QIcon::fromTheme(iconName), link.label, parent);
    button->setFlat(true);
    button->setCursor(Qt::PointingHandCursor);
    button->setToolTip(link.url.toString());
    button->setStyleSheet(QStringLiteral("QPushButton { padding: 8px 16px; border-radius: 8px;"
                                         " background: palette(midlight); }"));
    QObject::connect(button, &QPushButton::clicked, button,
                     [url = link.url] { QDesktopServices::openUrl(url); });
    return button;
}

} // namespace

QString aboutVersionText(const QVariant &shortVersion, const QVariant &build)
{
    const bool hasShort =
        shortVersion.typeId() == QMetaType::QString && !shortVersion.toString().isEmpty();
    const bool hasBuild = build.typeId() == QMetaType::QString && !build.toString().isEmpty();
    return (hasShort ? shortVersion.toString() : QStringLiteral("0.1")) + QStringLiteral(" (") +
           (hasBuild ? build.toString() : QStringLiteral("1")) + QLatin1Char(')');
}

AboutView::AboutView(AboutInfo info, QWidget *parent) : QWidget(parent), info_(std::move(info))
{
    setFixedSize(500, info_.height);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 20, 0, 0);
    layout->setSpacing(10);

    auto *icon = new QLabel(this);
    const QIcon source = info_.iconImage.isNull() ? QApplication::windowIcon() : info_.iconImage;
    icon->setPixmap(roundedIcon(source, devicePixelRatioF()));
    icon->setFixedSize(iconSide, iconSide);
    layout->addWidget(icon, 0, Qt::AlignHCenter);

    auto *name = new QLabel(info_.appName, this);
    name->setTextFormat(Qt::PlainText);
    QFont nameFont = name->font();
    nameFont.setPointSizeF(nameFont.pointSizeF() * 1.6);
    nameFont.setBold(true);
    name->setFont(nameFont);
    layout->addWidget(name, 0, Qt::AlignHCenter);

    auto *version = secondaryLabel(info_.version, this);
    QFont small = version->font();
    small.setPointSizeF(small.pointSizeF() * 0.85);
    version->setFont(small);
    layout->addWidget(version, 0, Qt::AlignHCenter);
    layout->addSpacing(2);

    pages_ = new QStackedWidget(this);
    pages_->addWidget(makeAboutPage());
    for (const AboutTab &tab : std::as_const(info_.extraTabs))
        pages_->addWidget(tab.content ? tab.content() : new QWidget);
    if (!info_.licenses.isEmpty())
        pages_->addWidget(makeLicensesPage());

    const QStringList titles = pageTitles();
    if (titles.size() >= 2) {
        picker_ = new QTabBar(this);
        picker_->setFixedWidth(320);
        picker_->setExpanding(true);
        for (const QString &title : titles)
            picker_->addTab(title);
        connect(picker_, &QTabBar::currentChanged, pages_, &QStackedWidget::setCurrentIndex);
        layout->addWidget(picker_, 0, Qt::AlignHCenter);
        layout->addSpacing(2);
    }
    auto *divider = new QFrame(this);
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Sunken);
    layout->addWidget(divider);
    layout->addWidget(pages_, 1);
}

int AboutView::selection() const { return pages_->currentIndex(); }

QStringList AboutView::pageTitles() const
{
    QStringList titles{info_.aboutTabLabel};
    for (const AboutTab &tab : info_.extraTabs)
        titles << tab.title;
    if (!info_.licenses.isEmpty())
        titles << info_.licensesTabLabel;
    return titles;
}

QWidget *AboutView::makeAboutPage()
{
    auto *page = new QWidget;
    auto *layout = new QVBoxLayout(page);
    layout->setContentsMargins(24, 16, 24, 16);
    layout->setSpacing(16);
    auto *description = secondaryLabel(info_.description, page);
    description->setWordWrap(true);
    description->setAlignment(Qt::AlignHCenter);
    layout->addWidget(description);
    if (info_.website)
        layout->addWidget(linkPill(QStringLiteral("applications-internet"), *info_.website, page),
                          0, Qt::AlignHCenter);
    if (info_.support) {
        QPushButton *pill = linkPill(QStringLiteral("emblem-favorite"), *info_.support, page);
        layout->addWidget(pill, 0, Qt::AlignHCenter);
    }
    if (info_.copyright) {
        auto *notice = new QLabel(page);
        if (info_.copyright->url.isEmpty()) {
            notice->setTextFormat(Qt::PlainText);
            notice->setText(info_.copyright->text);
        } else {
            notice->setTextFormat(Qt::RichText);
            notice->setText(
                QStringLiteral("<a href=\"%1\">%2</a>")
                    .arg(info_.copyright->url.toString(QUrl::FullyEncoded).toHtmlEscaped(),
                         info_.copyright->text.toHtmlEscaped()));
            notice->setOpenExternalLinks(true);
        }
        layout->addWidget(notice, 0, Qt::AlignHCenter);
    }
    layout->addStretch(1);
    return page;
}

QWidget *AboutView::makeLicensesPage()
{
    auto *scroll = new QScrollArea;
    scroll->setWidgetResizable(true);
    auto *list = new QWidget;
    auto *layout = new QVBoxLayout(list);
    for (const License &license : std::as_const(info_.licenses)) {
        auto *toggle = new QToolButton(list);
        toggle->setArrowType(Qt::RightArrow);
        toggle->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
        toggle->setText(license.name + QStringLiteral(" — ") + license.licenseType);
        toggle->setCheckable(true);
        toggle->setAutoRaise(true);
        auto *text =
            secondaryLabel(license.copyright + QStringLiteral("\n\n") + license.licenseText, list);
        text->setWordWrap(true);
        text->setVisible(false);
        connect(toggle, &QToolButton::toggled, text, [toggle, text](bool expanded) {
            toggle->setArrowType(expanded ? Qt::DownArrow : Qt::RightArrow);
            text->setVisible(expanded);
        });
        layout->addWidget(toggle);
        layout->addWidget(text);
    }
    layout->addStretch(1);
    scroll->setWidget(list);
    return scroll;
}

} // namespace trellis
