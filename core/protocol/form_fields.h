// The fields of one request: text parts and file parts of the multipart body.
#pragma once

#include "core/protocol/string_hash_map.h"

struct CFormFields {
  CStringHashMap textFields;  // field name -> value (already UTF-8 where user text)
  CStringHashMap fileFields;  // field name -> full path of a local file (ANSI)

  void RemoveAll() {
    textFields.RemoveAll();
    fileFields.RemoveAll();
  }
};
