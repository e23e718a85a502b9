// Fitting the window's template to the toolkit: the template's rectangles (dialog units
// converted to pixels) and the sizes the toolkit's controls need, in; the rectangles to give
// the controls and the window's client size, out. No window is touched, so it runs without a
// display.
#pragma once

#include <wx/gdicmn.h>

#include <vector>

enum class TemplateKind {
    Label,    // ends where its field begins, so it grows to the left
    TextBox,  // keeps its width: a long path scrolls in it
    List,     // a drop-down list: its template height is that of the list dropped open
    Control,  // anything else (buttons): grows to the right and down
};

struct TemplateControl {
    wxRect tmpl;     // the template's rectangle, in pixels
    wxSize natural;  // what the toolkit's control needs to show whole
    TemplateKind kind;
};

struct TemplateMetrics {
    int rowTolerance;  // template tops this close together form one row
    wxSize gap;        // controls that grew into each other are kept this far apart
    wxSize edge;       // the margin the window keeps around its controls
    wxSize client;     // the template's client size: the window never gets smaller
};

struct TemplateFit {
    std::vector<wxRect> rects;  // one per control, in the order given
    wxSize client;
};

// Each control keeps its template rectangle where its natural size fits in it, and grows
// where it needs more room; a list takes the natural (closed) height. Each row then shifts
// right or down by the least that keeps controls that grew into each other apart, stays
// centred on its template line, each label is centred on its field (the nearest field to its
// right by template row), and the window grows where the controls would reach its edge.
TemplateFit FitTemplate(const std::vector<TemplateControl>& controls, const TemplateMetrics& metrics);
