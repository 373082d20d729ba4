#include "ui/access.h"

#include <QAccessible>
#include <QAccessibleValueInterface>
#include <QAccessibleWidget>
#include <QLabel>
#include <QScrollBar>

#include "engine/settings.h"

namespace penumbrix {

namespace {

QString qs(const char* utf8) { return QString::fromUtf8(utf8); }

// What each slider sets, as a listener hears it (the on-screen captions are
// single letters and half-width katakana, and the cut-off range's caption is
// the program's name).
const char* spokenName(Setting s)
{
    switch (s) {
    case Setting::Red: return "赤";
    case Setting::Green: return "緑";
    case Setting::Blue: return "青";
    case Setting::Light: return "明るさ";
    case Setting::Contrast: return "コントラスト";
    case Setting::Range: return "カット範囲";
    case Setting::Czoom: return "カット倍率";
    }
    return "";
}

const SettingInfo* settingOf(const QObject* bar)
{
    for (const SettingInfo& info : kSettings)
        if (bar->objectName() == QLatin1String(info.barName))
            return &info;
    return nullptr;
}

// A setting's slider: a slider (not a scroll bar) whose value, least and
// largest value are in the numbers its value box shows.
class SettingAccessible final : public QAccessibleWidget, public QAccessibleValueInterface {
public:
    SettingAccessible(QScrollBar* bar, int labelBias)
        : QAccessibleWidget(bar, QAccessible::Slider), labelBias_(labelBias)
    {
    }

    void* interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::ValueInterface)
            return static_cast<QAccessibleValueInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Value)
            return currentValue().toString();
        return QAccessibleWidget::text(t);
    }

    // The number in the value box (the box is the label whose buddy the
    // slider is); the slider's own value in the same terms when it has none.
    QVariant currentValue() const override
    {
        if (const QLabel* box = valueBox()) {
            bool ok = false;
            const int shown = box->text().toInt(&ok);
            if (ok)
                return shown;
        }
        return bar()->value() - labelBias_;
    }
    void setCurrentValue(const QVariant& value) override { bar()->setValue(value.toInt() + labelBias_); }
    QVariant maximumValue() const override { return bar()->maximum() - labelBias_; }
    QVariant minimumValue() const override { return bar()->minimum() - labelBias_; }
    QVariant minimumStepSize() const override { return bar()->singleStep(); }

private:
    QScrollBar* bar() const { return static_cast<QScrollBar*>(widget()); }
    const QLabel* valueBox() const
    {
        if (const QWidget* parent = bar()->parentWidget())
            for (const QLabel* label : parent->findChildren<QLabel*>(Qt::FindDirectChildrenOnly))
                if (label->buddy() == bar())
                    return label;
        return nullptr;
    }

    int labelBias_;
};

QAccessibleInterface* accessibleFor(const QString& className, QObject* object)
{
    if (!object || !object->isWidgetType())
        return nullptr;
    // A setting's slider is a scroll bar of the setting's name.
    if (className == QLatin1String("QScrollBar")) {
        if (const SettingInfo* info = settingOf(object))
            return new SettingAccessible(static_cast<QScrollBar*>(object), info->labelBias);
    }
    if (className == QLatin1String("penumbrix::ImageView") || className == QLatin1String("penumbrix::DrawingSurface"))
        return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::Graphic);
    return nullptr;
}

} // namespace

void installAccessibility()
{
    static const bool installed = [] {
        QAccessible::installFactory(accessibleFor);
        return true;
    }();
    (void)installed;
}

void describeMainWindow(QWidget& form)
{
    auto find = [&form](const char* name) { return form.findChild<QWidget*>(QString::fromLatin1(name)); };
    auto caption = [&find](const char* control) {
        const QWidget* w = find(control);
        return w ? w->property("text").toString() : QString();
    };

    // Each slider by what it sets; its value box labels it and says whose
    // value it is.
    for (const SettingInfo& info : kSettings) {
        auto* bar = form.findChild<QScrollBar*>(QString::fromLatin1(info.barName));
        auto* box = form.findChild<QLabel*>(QString::fromLatin1(info.labelName));
        if (!bar || !box)
            continue;
        const QString name = qs(spokenName(info.setting));
        bar->setAccessibleName(name);
        box->setBuddy(bar);
        box->setAccessibleDescription(name + qs("の値"));
    }

    // The views and surfaces by the captions over them (the preview
    // surface's is its button's), the work surface by its use, and the
    // built-in picture by the program's name.
    const struct {
        const char* control;
        QString name;
    } pictures[] = {
        {"Image1", caption("Label5")},
        {"Image2", caption("Label6")},
        {"Picture2", caption("Command3")},
        {"Picture1", qs("作業用イメージ")},
        {"Picture3", form.windowTitle()},
    };
    for (const auto& picture : pictures)
        if (QWidget* w = find(picture.control))
            w->setAccessibleName(picture.name);

    // The heading without its rule of hyphens.
    if (auto* heading = form.findChild<QLabel*>(QStringLiteral("RGB")))
        heading->setAccessibleName(heading->text().remove(QLatin1Char('-')));
}

} // namespace penumbrix
