// The record index by call sign (an AA tree linked through the records' index
// members, leaves at level 0) and ADIF field writing.
#include "util/record_index.h"

#include <cstring>

namespace {

// The key of a record: the value of its newest CALL field, or null when it
// has none (such a record is never indexed nor found).
const char* call_key(const AdifRecord* record) {
  if (!record || !record->call) return nullptr;
  return record->call->value;
}

AdifRecord* skew(AdifRecord* node) {
  AdifRecord* left = node->index_left;
  if (left && left->index_level == node->index_level) {
    node->index_left = left->index_right;
    left->index_right = node;
    return left;
  }
  return node;
}

AdifRecord* split(AdifRecord* node) {
  AdifRecord* right = node->index_right;
  if (right && right->index_right && right->index_right->index_level == node->index_level) {
    node->index_right = right->index_left;
    right->index_left = node;
    right->index_level += 1;
    return right;
  }
  return node;
}

AdifRecord* insert_keyed(AdifRecord* root, AdifRecord* record, const char* key, char*& message) {
  if (!root) {
    record->call_count += 1;
    return split(skew(record));
  }
  int order = std::strcmp(key, call_key(root));
  if (order < 0) {
    root->index_left = insert_keyed(root->index_left, record, key, message);
  } else if (order > 0) {
    root->index_right = insert_keyed(root->index_right, record, key, message);
  } else {
    // The first record of a call sign stays; the later one is counted and reported.
    set_slot_message(message, "Duplicate callsign: %s", key);
    root->call_count += 1;
  }
  return split(skew(root));
}

}  // namespace

AdifRecord* insert_record(AdifRecord* root, AdifRecord* record, char*& message) {
  const char* key = call_key(record);
  if (!key) return root;
  return insert_keyed(root, record, key, message);
}

AdifRecord* find_record(AdifRecord* root, const AdifRecord* probe) {
  const char* key = call_key(probe);
  if (!key) return nullptr;
  while (root) {
    int order = std::strcmp(key, call_key(root));
    if (order == 0) return root;
    root = order < 0 ? root->index_left : root->index_right;
  }
  return nullptr;
}

void write_ADIF_field(FILE* stream, const AdifField* field) {
  if (!field) return;
  if (field->value) {
    std::fprintf(stream, "<%s:%lu>%s ", field->name,
                 static_cast<unsigned long>(std::strlen(field->value)), field->value);
  } else {
    std::fprintf(stream, "<%s> ", field->name);
  }
}

void dump_field_tree(FILE* stream, const AdifField* root) {
  if (!root) return;
  dump_field_tree(stream, root->left);
  std::fprintf(stream, "<%s>%s ", root->name, root->value ? root->value : "");
  dump_field_tree(stream, root->right);
}
