#include "app/conversion_panel.h"

#include <QRadioButton>
#include <QVBoxLayout>

namespace rv {

ConversionPanel::ConversionPanel(QWidget* owner) : QWidget(owner, Qt::Tool), buttons_(new QButtonGroup(this)) {
    setWindowTitle("変換後");
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 4, 4, 4);
    layout->setSpacing(2);
    const char* names[] = {"KZP", "LWO", "MX", "X"};
    for (int i = 0; i < 4; ++i) {
        auto* button = new QRadioButton(names[i], this);
        buttons_->addButton(button, 1440 + i);
        layout->addWidget(button);
    }
    buttons_->button(1440)->setChecked(true);
    connect(buttons_, &QButtonGroup::idClicked, this, [this](int id) {
        target_ = ConversionTarget(id - 1440);
        emit targetChanged(target_);
    });
}

void ConversionPanel::placeBeside(QWidget* owner) {
    const QRect frame = owner->frameGeometry();
    setGeometry(frame.left() + 32, frame.top() + 172, 68, 116);
}

}  // namespace rv
