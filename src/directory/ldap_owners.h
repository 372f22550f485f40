#pragma once

// Owners of libldap allocations, each with its matching free function. For
// the directory's own sources only: it brings <ldap.h> with it.

#include <ldap.h>
#include <ldif.h>

#include <memory>

namespace directory::ldap_owners {

struct Deleter {
    void operator()(LDAP *ld) const { ldap_unbind_ext_s(ld, nullptr, nullptr); }
    void operator()(LDAPMessage *message) const { ldap_msgfree(message); }
    void operator()(LDAPControl **controls) const { ldap_controls_free(controls); }
    void operator()(LDAPControl *control) const { ldap_control_free(control); }
    void operator()(LDAPURLDesc *url) const { ldap_free_urldesc(url); }
    void operator()(LDAPRDN *dn) const { ldap_dnfree(dn); }
    void operator()(LDIFFP *fp) const { ldif_close(fp); }
    void operator()(LDIFRecord *record) const { ldap_ldif_record_done(record); }
    void operator()(berval *bv) const { ber_bvfree(bv); } // the struct and its value
};

// Memory that libldap hands out as plain text (ldap_get_dn, ldif_put_wrap, …).
struct MemFree {
    void operator()(void *p) const { ber_memfree(p); }
};

template <typename T>
using Owned = std::unique_ptr<T, Deleter>;
using Text = std::unique_ptr<char, MemFree>;

} // namespace directory::ldap_owners
