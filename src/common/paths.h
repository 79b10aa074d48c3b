// Every file the programs touch lies below one configuration directory that
// is fixed when the programs are built (KESTRO_CONFDIR, default
// "/usr/local/etc/kestro"), as is the account they switch to (KESTRO_USER,
// default "news"). Nothing at run time changes them.
#pragma once

extern const char config_directory[];
extern const char account_name[];

extern const char path_active[];
extern const char path_active_new[];
extern const char path_newsgroups[];
extern const char path_newsgroups_new[];
extern const char path_newsfeeds[];
