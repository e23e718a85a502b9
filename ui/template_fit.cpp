#include "template_fit.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <utility>

namespace {

struct Item {
    size_t index;  // into the caller's controls and the result
    wxRect tmpl;
    wxRect rect;
    bool list;
};

// Rows by template top; within a row, controls stay centred on the template's line (a field
// 12 units high beside a button 16 high) whatever heights the toolkit gives them, and are
// pushed right and down past what grew into them.
void PlaceRows(std::vector<Item>& fields, const TemplateMetrics& metrics) {
    std::stable_sort(fields.begin(), fields.end(),
                     [](const Item& a, const Item& b) { return a.tmpl.y < b.tmpl.y; });
    for (size_t first = 0; first < fields.size();) {
        size_t end = first + 1;
        while (end < fields.size() && fields[end].tmpl.y - fields[first].tmpl.y <= metrics.rowTolerance) {
            ++end;
        }
        const auto row = fields.begin() + first;
        const auto rowEnd = fields.begin() + end;

        double centres = 0;
        int counted = 0;
        for (auto it = row; it < rowEnd; ++it) {
            if (!it->list) {
                centres += it->tmpl.y + it->tmpl.height / 2.0;
                ++counted;
            }
        }
        if (counted > 0) {
            for (auto it = row; it < rowEnd; ++it) {
                it->rect.y = static_cast<int>(std::lround(centres / counted - it->rect.height / 2.0));
            }
        }

        std::sort(row, rowEnd, [](const Item& a, const Item& b) { return a.tmpl.x < b.tmpl.x; });
        for (auto it = row + 1; it < rowEnd; ++it) {
            const int dx = (it - 1)->rect.GetRight() + 1 + metrics.gap.x - it->rect.x;
            if (dx > 0) {
                for (auto right = it; right < rowEnd; ++right) {
                    right->rect.x += dx;
                }
            }
        }

        int dy = 0;
        for (auto it = row; it < rowEnd; ++it) {
            for (auto above = fields.begin(); above < row; ++above) {
                const bool sideBySide =
                    it->rect.x > above->rect.GetRight() || above->rect.x > it->rect.GetRight();
                if (!sideBySide) {
                    dy = std::max(dy, above->rect.GetBottom() + 1 + metrics.gap.y - it->rect.y);
                }
            }
        }
        for (auto it = row; it < rowEnd; ++it) {
            it->rect.y += dy;
        }
        first = end;
    }
}

// A label moves with its field and is centred on it; one with no field to its right stays.
void PlaceLabels(std::vector<Item>& labels, const std::vector<Item>& fields) {
    for (Item& label : labels) {
        const Item* field = nullptr;
        for (const Item& candidate : fields) {
            if (candidate.tmpl.x <= label.tmpl.x) {
                continue;
            }
            const auto distance = [&](const Item& item) {
                return std::make_pair(std::abs(item.tmpl.y - label.tmpl.y), item.tmpl.x);
            };
            if (field == nullptr || distance(candidate) < distance(*field)) {
                field = &candidate;
            }
        }
        if (field == nullptr) {
            continue;
        }
        label.rect.x += field->rect.x - field->tmpl.x;
        label.rect.y = field->rect.y + (field->rect.height - label.rect.height) / 2;
    }
}

}  // namespace

TemplateFit FitTemplate(const std::vector<TemplateControl>& controls, const TemplateMetrics& metrics) {
    std::vector<Item> fields;
    std::vector<Item> labels;
    for (size_t index = 0; index < controls.size(); ++index) {
        const TemplateControl& control = controls[index];
        const wxRect& tmpl = control.tmpl;
        wxRect rect = tmpl;
        rect.height = std::max(tmpl.height, control.natural.y);
        switch (control.kind) {
            case TemplateKind::Label:
                rect.width = std::max(tmpl.width, control.natural.x);
                rect.x = tmpl.GetRight() + 1 - rect.width;
                labels.push_back({index, tmpl, rect, false});
                continue;
            case TemplateKind::TextBox:
                break;
            case TemplateKind::List:
                rect.width = std::max(tmpl.width, control.natural.x);
                rect.height = control.natural.y;
                break;
            case TemplateKind::Control:
                rect.width = std::max(tmpl.width, control.natural.x);
                break;
        }
        fields.push_back({index, tmpl, rect, control.kind == TemplateKind::List});
    }

    PlaceRows(fields, metrics);
    PlaceLabels(labels, fields);

    std::vector<Item> all = fields;
    all.insert(all.end(), labels.begin(), labels.end());
    int left = metrics.edge.x;
    for (const Item& item : all) {
        left = std::min(left, item.rect.x);
    }
    TemplateFit fit{std::vector<wxRect>(controls.size()), metrics.client};
    for (Item& item : all) {
        item.rect.x += metrics.edge.x - left;
        fit.client.IncTo(
            wxSize(item.rect.GetRight() + 1 + metrics.edge.x, item.rect.GetBottom() + 1 + metrics.edge.y));
        fit.rects[item.index] = item.rect;
    }
    return fit;
}
