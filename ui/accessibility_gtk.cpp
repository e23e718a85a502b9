// GTK: the toolkit's accessibility objects (ATK), which the AT-SPI bridge shows to screen
// readers.
#include <gtk/gtk.h>
#include <wx/choice.h>
#include <wx/window.h>

#include <vector>

#include "accessibility.h"
#include "resource.h"

namespace {

// Relates label and field both ways, and undoes any relation of the label to another control.
// GTK derives these relations from the label's mnemonic widget only while none exist, and keeps
// them once derived, so a label once pointed elsewhere stays related there unless undone here.
void Relate(GtkWidget* label, GtkWidget* field) {
    AtkObject* labelObject = gtk_widget_get_accessible(label);
    AtkObject* fieldObject = gtk_widget_get_accessible(field);
    AtkRelationSet* relations = atk_object_ref_relation_set(labelObject);
    if (AtkRelation* labelFor = atk_relation_set_get_relation_by_type(relations, ATK_RELATION_LABEL_FOR)) {
        GPtrArray* targets = atk_relation_get_target(labelFor);
        std::vector<AtkObject*> stale;
        for (guint i = 0; i < targets->len; ++i) {
            auto* target = static_cast<AtkObject*>(g_ptr_array_index(targets, i));
            if (target != fieldObject) {
                stale.push_back(target);
            }
        }
        for (AtkObject* target : stale) {
            atk_object_remove_relationship(labelObject, ATK_RELATION_LABEL_FOR, target);
            atk_object_remove_relationship(target, ATK_RELATION_LABELLED_BY, labelObject);
        }
    }
    g_object_unref(relations);
    atk_object_add_relationship(labelObject, ATK_RELATION_LABEL_FOR, fieldObject);
    atk_object_add_relationship(fieldObject, ATK_RELATION_LABELLED_BY, labelObject);
}

// wx makes a label the mnemonic label of the control created after it, as the Windows dialog
// manager pairs them, and does so again when that control is realised: here it would name
// the Website button "Bit Rate :". Whenever wx points the label elsewhere, it is pointed back
// at its field. (The label forgets a widget that is destroyed, which is left alone.) None of
// the labels has a mnemonic character, so no key changes.
void PointAt(GtkLabel* label, GtkWidget* field) {
    gtk_label_set_mnemonic_widget(label, field);
    Relate(GTK_WIDGET(label), field);
}

void OnMnemonicWidgetChanged(GtkLabel* label, GParamSpec*, gpointer field) {
    GtkWidget* now = gtk_label_get_mnemonic_widget(label);
    if (now != nullptr && now != field) {
        PointAt(label, static_cast<GtkWidget*>(field));
    }
}

// A drop-down list keeps the keyboard focus on a button inside itself that is no part of the
// accessible tree: GTK reports the focus on that hidden button, so a screen reader says
// nothing when Tab reaches the list. The window therefore reports it on the list itself, each
// time the focus enters or leaves a list.
void OnFocusChanged(GtkWindow* window, GtkWidget*, gpointer) {
    GtkWidget* focus = gtk_window_get_focus(window);
    for (GList* item = static_cast<GList*>(g_object_get_data(G_OBJECT(window), "voxmere-lists"));
         item != nullptr; item = item->next) {
        auto* list = static_cast<GtkWidget*>(item->data);
        const bool inside = focus != nullptr && (focus == list || gtk_widget_is_ancestor(focus, list));
        const bool was = g_object_get_data(G_OBJECT(list), "voxmere-focused") != nullptr;
        if (inside != was) {
            g_object_set_data(G_OBJECT(list), "voxmere-focused", GINT_TO_POINTER(inside));
            atk_object_notify_state_change(gtk_widget_get_accessible(list), ATK_STATE_FOCUSED, inside);
        }
    }
}

}  // namespace

void DescribeToAssistiveTechnology(wxWindow* dialog) {
    GList* lists = nullptr;
    for (const LabelledField& pair : LabelledFields(dialog)) {
        GtkWidget* field = pair.field->GetHandle();
        GtkWidget* label = pair.label->GetHandle();
        if (GTK_IS_LABEL(label)) {
            PointAt(GTK_LABEL(label), field);
            // Disconnected when the field goes.
            g_signal_connect_object(label, "notify::mnemonic-widget", G_CALLBACK(OnMnemonicWidgetChanged),
                                    field, GConnectFlags(0));
        }
        // A list's own name would otherwise be its current entry, said twice.
        atk_object_set_name(gtk_widget_get_accessible(field), pair.name.utf8_str());
        if (wxDynamicCast(pair.field, wxChoice) != nullptr) {
            lists = g_list_prepend(lists, field);
        }
    }
    GtkWidget* window = dialog->GetHandle();
    g_object_set_data_full(G_OBJECT(window), "voxmere-lists", lists,
                           reinterpret_cast<GDestroyNotify>(g_list_free));
    g_signal_connect_after(window, "set-focus", G_CALLBACK(OnFocusChanged), nullptr);

    if (wxWindow* help = dialog->FindWindow(IDC_QUICK_HELP)) {
        atk_object_set_description(gtk_widget_get_accessible(help->GetHandle()), kQuickHelpDescription);
    }
}
