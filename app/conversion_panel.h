// The conversion panel "変換後": a small tool window of four radio buttons that picks the target
// of dropped files.
#pragma once

#include <QButtonGroup>
#include <QWidget>

#include "app/driver.h"

namespace rv {

class ConversionPanel : public QWidget {
    Q_OBJECT
public:
    explicit ConversionPanel(QWidget* owner);
    ConversionTarget target() const { return target_; }
    QButtonGroup* buttons() { return buttons_; }
    // Left + 32, top + 172 of the owner, 68 x 116 (in device-independent pixels).
    void placeBeside(QWidget* owner);

signals:
    void targetChanged(rv::ConversionTarget target);

private:
    QButtonGroup* buttons_;
    ConversionTarget target_ = ConversionTarget::Kzp;
};

}  // namespace rv
