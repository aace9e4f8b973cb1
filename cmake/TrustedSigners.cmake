# Signer pinning: the SHA-256 fingerprints of the certificates allowed to sign the product
# installer are compiled into Setup. Only the build sets them; nothing at run time can.
set(QV_TRUSTED_SIGNERS "" CACHE STRING
  "SHA-256 fingerprints of the certificates allowed to sign the product installer, ';'-separated (openssl x509 -fingerprint -sha256 form or 64 hex digits); empty: any intact signature is accepted")

# qv_signer_list(OUT "AB:CD:...;0123...") sets OUT to the fingerprints as 64 lowercase hex
# digits joined by ',' (a compile definition cannot carry ';'). A malformed entry stops
# the configuration: a typo here would lock every installer out, or pin nothing.
function(qv_signer_list out text)
  set(_result "")
  foreach(_entry IN LISTS text)
    string(STRIP "${_entry}" _entry)
    if(_entry STREQUAL "")
      continue()
    endif()
    string(REPLACE ":" "" _digits "${_entry}")
    string(TOLOWER "${_digits}" _digits)
    if(NOT _digits MATCHES "^[0-9a-f]+$")
      message(FATAL_ERROR "QV_TRUSTED_SIGNERS: '${_entry}' is not a SHA-256 fingerprint (64 hex digits)")
    endif()
    string(LENGTH "${_digits}" _length)
    if(NOT _length EQUAL 64)
      message(FATAL_ERROR "QV_TRUSTED_SIGNERS: '${_entry}' is not a SHA-256 fingerprint (64 hex digits)")
    endif()
    list(APPEND _result "${_digits}")
  endforeach()
  list(JOIN _result "," _joined)
  set(${out} "${_joined}" PARENT_SCOPE)
endfunction()
