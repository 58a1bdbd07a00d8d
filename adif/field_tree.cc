// The field tree of a record: an AA tree keyed by field name in strcmp order,
// with leaves at level 0.
#include "adif/adif.h"

namespace {

// Orders two names as strcmp does (bytes compared unsigned). Names are short
// and usually differ in their first bytes, so a loop that the compiler inlines
// into the tree walks costs less than a call into the C library per level.
inline int compare_names(const char* a, const char* b) {
  while (*a && *a == *b) {
    ++a;
    ++b;
  }
  return static_cast<int>(static_cast<unsigned char>(*a)) -
         static_cast<int>(static_cast<unsigned char>(*b));
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

}  // namespace

AdifField* insert_field(AdifField* root, AdifField* field, char*& message) {
  if (!root) return field;
  int order = compare_names(field->name, root->name);
  if (order < 0) {
    root->left = insert_field(root->left, field, message);
  } else if (order > 0) {
    root->right = insert_field(root->right, field, message);
  } else {
    // The first field of a name stays in the tree; the later one is reported.
    set_slot_message(message, "Duplicate field: <%s:%d>%s", field->name,
                     static_cast<int>(field->length), field->value);
  }
  return split(skew(root));
}

AdifField* find_field(AdifField* root, const char* name) {
  while (root) {
    int order = compare_names(name, root->name);
    if (order == 0) return root;
    root = order < 0 ? root->left : root->right;
  }
  return nullptr;
}
