#pragma once

#include <QString>

// Style values of one styled widget, kept per visual state, and the text of
// the stylesheet built from them. Every rule a member builds names the widget's
// own object name, so a widget's sheet never reaches another widget, not even
// its own children.
//
// State numbers: 0 normal; 1 pressed (buttons) or indicator size (check box);
// 2 hover (buttons) or unchecked indicator image (check box); 3 to 9 the other
// indicator images of the check box; 10 to 19 unused.
class XStyle
{
public:
    static constexpr int StateCount = 20;

    XStyle(const XStyle&) = delete;
    XStyle& operator=(const XStyle&) = delete;

    // Rebuilds the widget's whole stylesheet from the stored values.
    virtual void applyStyle() = 0;

    // Each setter stores the value for one state (an empty value drops the
    // property from that state's rule) and, when apply is true, restyles the
    // widget. A state outside 0..19 changes nothing and gives false.
    bool setXsBackground(const QString& value, const int& state, const bool& apply);
    bool setXsBorder(const QString& value, const int& state, const bool& apply);
    bool setXsColor(const QString& value, const int& state, const bool& apply);
    bool setXsFont(const QString& value, const int& state, const bool& apply);

    // The property lines of one state: "name: value;\n" for each non-empty
    // value, in a fixed order; empty for a state outside 0..19.
    QString styleRule(int state) const;
    // selector + " {\n" + block + "}\n".
    static QString xsRule(const QString& selector, const QString& block);
    // One "name: value;\n" line, or nothing when the value is empty.
    static QString xsLine(const char* name, const QString& value);

    int tag = 0;

    QString xsBorder[StateCount];
    QString xsBorderRadius[StateCount];
    QString xsBorderImage[StateCount];
    QString xsBackground[StateCount];
    QString xsFont[StateCount];
    QString xsTextAlign[StateCount];
    QString xsColor[StateCount];
    QString xsImage[StateCount];
    QString xsWidth[StateCount];
    QString xsHeight[StateCount];

protected:
    explicit XStyle(int tagValue) : tag(tagValue) {}
    // Members are deleted as widgets, never through this part.
    ~XStyle() = default;

    // The object name that ties the rules to this one widget: "XS_" and the
    // address of this part in upper-case hexadecimal, at least eight digits.
    QString xsObjectName() const;

private:
    bool store(QString (&values)[StateCount], const QString& value, int state, bool apply);
};
