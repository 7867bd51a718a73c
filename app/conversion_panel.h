// The conversion panel "変換後": a small tool window of radio buttons that picks the target of
// dropped files. It belongs to the main window (transient for it), so window managers keep it
// above that window.
#pragma once

#include <QButtonGroup>
#include <QPoint>
#include <QWidget>

#include "app/format_table.h"

namespace rv {

class ConversionPanel : public QWidget {
    Q_OBJECT
public:
    explicit ConversionPanel(QWidget* owner);
    ConversionTarget target() const { return target_; }
    QButtonGroup* buttons() { return buttons_; }
    // Puts the panel at left + 32, top + 172 of the owner's frame, kept inside that frame.
    void placeBeside(QWidget* owner);
    // Shows the panel and brings it above its owner.
    void bringUp();

signals:
    void targetChanged(rv::ConversionTarget target);

private:
    QButtonGroup* buttons_;
    ConversionTarget target_ = ConversionTarget::Kzp;
    QPoint offset_{32, 172};
};

// Button ids: 1440 + the target's number (KZP 1440 to X 1443, glTF 1444 for .glb, OBJ 1446).
inline constexpr int kPanelFirstButton = 1440;

}  // namespace rv
