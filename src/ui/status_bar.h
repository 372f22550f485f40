#pragma once

#include <QWidget>

class QLabel;

namespace ui {

// A status bar of two panels: panel 0 of fixed width, panel 1 the rest, its
// text right-aligned.
class StatusBar : public QWidget {
    Q_OBJECT
public:
    StatusBar(QWidget *parent, int panel0Width);

    [[nodiscard]] QString panelText(int panel) const;
    void setPanelText(int panel, const QString &text);

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    static constexpr int kTop = 2;     // above the panels
    static constexpr int kSpacing = 2; // between them
    int m_panel0Width;
    QLabel *m_panels[2];
};

} // namespace ui
