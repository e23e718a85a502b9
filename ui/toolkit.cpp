#include "toolkit.h"

#include <wx/window.h>

#ifdef __WXGTK__
#include <gtk/gtk.h>

wxSize NaturalSize(wxWindow* control) {
    GtkRequisition natural{};
    gtk_widget_get_preferred_size(control->GetHandle(), nullptr, &natural);
    return {natural.width, natural.height};
}

#else

wxSize NaturalSize(wxWindow* control) {
    return control->GetBestSize();
}

#endif
