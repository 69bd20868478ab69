// A dialog drawn from its template over a controls model. The model is the truth: the view
// draws what changed in it after every command and tick, and turns what the user does into
// the model's user_* calls, which raise the commands. No protocol lives here.
#pragma once

#include <QDialog>
#include <QFont>
#include <QRect>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "app/res/dialog_templates.h"
#include "platform/controls_model.h"

class QPushButton;

namespace vrk::qt {

// The dialog font's metrics that dialog units are measured in: a horizontal unit is a quarter
// of the average character width, a vertical unit an eighth of the character height.
struct DialogBaseUnits {
    int average_char_width = 0;
    int char_height = 0;
};

// The template's font ("MS Sans Serif" 8) where the system has it, else the system's sans
// font at the template's size.
[[nodiscard]] QFont dialog_font(const res::DialogTemplate& dialog);
// Base units of a font: the average width of the Latin letters, as the platform the templates
// were laid out on measures it, and the font's height (ascent plus descent).
[[nodiscard]] DialogBaseUnits dialog_base_units(const QFont& font);
// A control's rectangle in pixels; each of x, y, width and height is converted on its own.
[[nodiscard]] QRect dialog_rect_to_pixels(const res::ControlTemplate& control,
                                          DialogBaseUnits units);

struct DialogOptions {
    // The control whose press the Escape key stands for; 0: Escape does nothing (the main
    // window must not close by accident while a transfer runs).
    int escape_command = 0;
};

class DialogView : public QDialog {
    Q_OBJECT
  public:
    // Builds one widget per template control and draws the model once. The model must outlive
    // the view.
    DialogView(const res::DialogTemplate& dialog, platform::ControlsModel& model,
               DialogOptions options = {}, QWidget* parent = nullptr);
    ~DialogView() override;

    // Draws what changed in the model since the last draw, and ends the dialog with the
    // model's result once the model is ended. Called after every command and every tick.
    void refresh();

    // The widget of the control with this id (nullptr for none). Labels have no id; reach them
    // by their place in the template.
    [[nodiscard]] QWidget* control_widget(int id) const;
    [[nodiscard]] QWidget* template_widget(std::size_t index) const;
    [[nodiscard]] DialogBaseUnits base_units() const { return units_; }
    [[nodiscard]] const res::DialogTemplate& dialog_template() const { return dialog_; }

  public slots:
    // The user closed the window (close box, Alt+F4, the window manager): the dialog ends
    // with -1, as its end value says "nothing chosen".
    void reject() override;

  protected:
    void keyPressEvent(QKeyEvent* event) override;

  private:
    struct Bound {
        int id;
        QWidget* widget;
        std::uint64_t drawn_revision;
    };

    void build_controls();
    QWidget* make_widget(const res::ControlTemplate& control);
    void redraw();
    void draw(const platform::Control& control, QWidget* widget);
    Bound* bound(int id);

    void on_clicked(int id);
    void on_text_edited(int id, const QString& text);
    void on_activated(int id, int index);
    void on_double_clicked(int id, int row);
    void on_focus_changed(QWidget* now);

    const res::DialogTemplate& dialog_;
    platform::ControlsModel& model_;
    DialogOptions options_;
    QFont font_;
    DialogBaseUnits units_;
    std::vector<QWidget*> template_widgets_;  // one per template control, in template order
    std::vector<Bound> bound_;                // the controls with an id
    QPushButton* default_button_ = nullptr;
    QMetaObject::Connection focus_connection_;
    std::uint64_t drawn_model_revision_ = 0;
    int drawn_focus_ = 0;
    bool drawing_ = false;
    bool finished_ = false;
};

}  // namespace vrk::qt
