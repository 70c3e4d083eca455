#pragma once

#include "core/model/MetadataEntry.h"

#include <QFrame>
#include <QList>

class QVBoxLayout;

namespace orva {

// The metadata overlay: a dark translucent card of label/value rows (values selectable
// for copying), or "No metadata available".
class MetadataPanel : public QFrame {
    Q_OBJECT

public:
    static constexpr int panelWidth = 280;
    static constexpr int inset = 16;

    explicit MetadataPanel(QWidget *parent = nullptr);
    void setEntries(const QList<MetadataEntry> &entries);
    const QList<MetadataEntry> &entries() const { return entries_; }

protected:
    void paintEvent(QPaintEvent *event) override;
    bool event(QEvent *event) override;

private:
    void rebuild();

    QList<MetadataEntry> entries_;
    QVBoxLayout *layout_;
    QWidget *rows_ = nullptr;
};

} // namespace orva
