// Windows-style codes the engine gives beyond those of the file-system
// layer.
#ifndef QXR8_INSTALL_INSTALL_CODES_H_
#define QXR8_INSTALL_INSTALL_CODES_H_

enum : unsigned {
  kErrorAccessDenied = 5,        // ERROR_ACCESS_DENIED: a link planted by someone else
  kErrorSharingViolation = 32,   // ERROR_SHARING_VIOLATION: another run holds the catalog
};

#endif  // QXR8_INSTALL_INSTALL_CODES_H_
