// The field tree of a record: an AA tree keyed by field name in strcmp order,
// with leaves at level 0.
#include <cstddef>

#include "adif/adif.h"

namespace {

// Orders two names as strcmp does (bytes compared unsigned), starting at
// byte `from`, before which the names are known to agree; `common` receives
// the number of leading bytes they share. Names are short, so a loop that the
// compiler inlines into the tree walks costs less than a library call.
inline int compare_from(const char* a, const char* b, size_t from, size_t& common) {
  size_t at = from;
  while (a[at] && a[at] == b[at]) ++at;
  common = at;
  return static_cast<int>(static_cast<unsigned char>(a[at])) -
         static_cast<int>(static_cast<unsigned char>(b[at]));
}

AdifField* skew(AdifField* node) {
  AdifField* left = node->left;
  if (left && left->level == node->level) {
    node->left = left->right;
    left->right = node;
    return left;
  }
  return node;
}

AdifField* split(AdifField* node) {
  AdifField* right = node->right;
  if (right && right->right && right->right->level == node->level) {
    node->right = right->left;
    right->left = node;
    right->level += 1;
    return right;
  }
  return node;
}

// The recursive insertion. Every name in the subtree at `root`, and the new
// one, lies between two names already compared with the new name (or the
// ends of the order), which share `low` and `high` leading bytes with it
// (0 for an end); every name in the subtree then shares at least the smaller
// of the two with the new one, and comparisons start there. Names that share
// a long prefix (APP_LOGGER_...) then cost a few bytes a level.
AdifField* insert_below(AdifField* root, AdifField* field, char*& message, bool* unreported,
                        size_t low, size_t high) {
  if (!root) return field;
  size_t common;
  int order = compare_from(field->name, root->name, low < high ? low : high, common);
  if (order < 0) {
    root->left = insert_below(root->left, field, message, unreported, low, common);
  } else if (order > 0) {
    root->right = insert_below(root->right, field, message, unreported, common, high);
  } else {
    // The first field of a name stays in the tree; the later one is reported.
    report_duplicate(field, message, unreported);
  }
  return split(skew(root));
}

}  // namespace

void report_duplicate(const AdifField* field, char*& message, bool* unreported) {
  set_slot_message(message, "Duplicate field: <%s:%d>%s", field->name,
                   static_cast<int>(field->length), field->value);
  if (!message && unreported) *unreported = true;
}

AdifField* insert_field(AdifField* root, AdifField* field, char*& message, bool* unreported) {
  return insert_below(root, field, message, unreported, 0, 0);
}

AdifField* find_field(AdifField* root, const char* name) {
  // The bounds of insert_below hold for a search as well.
  size_t low = 0, high = 0;
  while (root) {
    size_t common;
    int order = compare_from(name, root->name, low < high ? low : high, common);
    if (order == 0) return root;
    if (order < 0) {
      high = common;
      root = root->left;
    } else {
      low = common;
      root = root->right;
    }
  }
  return nullptr;
}

const AdifField* find_record_field(const AdifRecord* record, const char* name) {
  if (!record->fields) return find_field(record->root, name);
  for (const AdifField* field = record->fields; field; field = field->next) {
    if (is_name(field->name, name)) return field;
  }
  return nullptr;
}
