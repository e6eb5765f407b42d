// The intrinsic table and its lookups.
#include "intrinsics.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "objfile.h"
#include "stack.h"

namespace {
constexpr SymType NUM = IN_NUMERIC_FN, STR = IN_STRING_FN, STMT = IN_STATEMENT;
constexpr SymType NUM_UNTYPED = IN_UNTYPED_FN, STMT_NUMERIC = IN_NUMERIC_STATEMENT;
} // namespace

const FnTab_Entry inbuilt[IN_ROWS] = {
    {"ABORT", STMT, "s1"},  // 0
    {"ABS", NUM, "n0"},  // 1
    {"ADDKEY", STMT, "n0n0N2n0"},  // 2
    {"APPLICATIONNAME$", STR, ""},  // 3
    {"APP_PROG$", STR, ""},  // 4
    {"ARGC", NUM, ""},  // 5
    {"ARGV$", STR, "n0"},  // 6
    {"ASC", NUM, ""},  // 7
    {"BASENAME$", STR, ""},  // 8
    {"BASICLINENO$", STR, ""},  // 9
    {"BS$", STR, "?n0"},  // 10
    {"CHAIN", STMT, "s1?n0"},  // 11
    {"CHG_ROOT", STMT, "s1|"},  // 12
    {"CHR$", STR, "n0"},  // 13
    {"COPYSTRUCT", NUM, ""},  // 14
    {"COPYTOTEXT", NUM, ""},  // 15
    {"CPMED$", STR, "n0n0n0?s1"},  // 16
    {"CPMEDZ$", STR, ""},  // 17
    {"CR$", STR, "?n0"},  // 18
    {"DELETE_FILE", STMT, ""},  // 19
    {"DELKEY", STMT, "n0n0"},  // 20
    {"EDIT$", STR, "n0s1"},  // 21
    {"ERR", NUM, ""},  // 22
    {"ERROR.TEXT$", STR, ""},  // 23
    {"EXECUTE", NUM, "s1n0?n0S2"},  // 24
    {"EXIT.CODE", NUM, ""},  // 25
    {"EXIT.STRING$", STR, ""},  // 26
    {"FF$", STR, "?n0"},  // 27
    {"FLEN", NUM, ""},  // 28
    {"GETENV$", STR, ""},  // 29
    {"GETPID", NUM, ""},  // 30
    {"GETSYS$", STR, ""},  // 31
    {"HEX$", STR, "n0"},  // 32
    {"IAES_DECRYPT$", STR, ""},  // 33
    {"IAES_ENCRYPT$", STR, ""},  // 34
    {"ICADD", NUM, "n0n0s1n0n0n0n0n0n0n0n0"},  // 35
    {"ICATTACH_FUN", STMT, ""},  // 36
    {"ICATTACH_WINDOW", STMT, ""},  // 37
    {"ICCALL_FUN", STMT, "n0|"},  // 38
    {"ICCHECK_INDEX", NUM, ""},  // 39
    {"ICCLEAR", STMT, ""},  // 40
    {"ICDELETE_WINDOW", STMT, ""},  // 41
    {"ICDETACH_FUN", STMT, ""},  // 42
    {"ICERT_APPROVE", NUM, ""},  // 43
    {"ICERT_LIST", NUM, ""},  // 44
    {"ICERT_REJECT", NUM, ""},  // 45
    {"ICERT_REVOKE", NUM, ""},  // 46
    {"ICGET_ANYCHANGE", NUM, ""},  // 47
    {"ICGET_CURRENT_FOCUS", NUM, ""},  // 48
    {"ICGET_EVENT_NAME$", STR, ""},  // 49
    {"ICGET_FIELD_DES_PTR", NUM, ""},  // 50
    {"ICGET_FIELD_ENABLED", NUM, ""},  // 51
    {"ICGET_FIELD_ENTRY_PTR", NUM, ""},  // 52
    {"ICGET_FIELD_NAME$", STR, ""},  // 53
    {"ICGET_FIELD_PROMPT_NO", NUM, ""},  // 54
    {"ICGET_FIELD_PROMPT_PTR", NUM, ""},  // 55
    {"ICGET_FIELD_TAB_SEQ", NUM, ""},  // 56
    {"ICGET_FIELD_TYPE", NUM, ""},  // 57
    {"ICGET_FIELD_VALID", NUM, ""},  // 58
    {"ICGET_INDEX", NUM, ""},  // 59
    {"ICGET_LAST_INDEX", NUM, ""},  // 60
    {"ICGET_MODIFIED", NUM, ""},  // 61
    {"ICGET_PROGRAM_MODE", NUM, ""},  // 62
    {"ICGET_RETURN_FOCUS", NUM, ""},  // 63
    {"ICHECKVIRUS", NUM, ""},  // 64
    {"ICHIDE_ALL", STMT, ""},  // 65
    {"ICINVOKE_DRILL_POST", STMT, ""},  // 66
    {"ICINVOKE_FETCH", STMT, ""},  // 67
    {"ICINVOKE_WIN_POST", STMT, ""},  // 68
    {"ICINVOKE_ZOOM_POST", STMT, ""},  // 69
    {"ICOPY", STMT, ""},  // 70
    {"ICREMOVE", STMT, ""},  // 71
    {"ICSET_ANYCHANGE", STMT, ""},  // 72
    {"ICSET_CONTENT", STMT, "n0?A?A"},  // 73
    {"ICSET_FIELD_DES_PTR", STMT, ""},  // 74
    {"ICSET_FIELD_ENABLED", STMT, ""},  // 75
    {"ICSET_FIELD_ENTRY_PTR", STMT, ""},  // 76
    {"ICSET_FIELD_NAME", STMT, ""},  // 77
    {"ICSET_FIELD_PROMPT_NO", STMT, ""},  // 78
    {"ICSET_FIELD_PROMPT_PTR", STMT, ""},  // 79
    {"ICSET_FIELD_TAB_SEQ", STMT, ""},  // 80
    {"ICSET_FIELD_TYPE", STMT, ""},  // 81
    {"ICSET_FIELD_VALID", STMT, ""},  // 82
    {"ICSET_FOCUS", STMT, ""},  // 83
    {"ICSET_MODIFIED", STMT, ""},  // 84
    {"ICSET_PROGRAM_MODE", STMT, ""},  // 85
    {"ICSHOW_ALL", STMT, ""},  // 86
    {"ICTABLE_BGCOLOUR_CELL_DEFAULT", STMT, ""},  // 87
    {"ICTABLE_BGCOLOUR_DISPLAY_TABLE", STMT, ""},  // 88
    {"ICTABLE_BGCOLOUR_ROW_DEFAULT", STMT, ""},  // 89
    {"ICTABLE_BGCOLOUR_SET_CELL", STMT, ""},  // 90
    {"ICTABLE_BGCOLOUR_SET_ROW", STMT, ""},  // 91
    {"ICTABLE_BGCOLOUR_SHOW", STMT, ""},  // 92
    {"IDATEC$", STR, ""},  // 93
    {"IDATEP$", STR, ""},  // 94
    {"IDISPLAY_CM", STMT, ""},  // 95
    {"IDOC_FETCH", NUM, "n0s1s1z"},  // 96
    {"IDOC_STORE", NUM, ""},  // 97
    {"IEXTERNAL_PROGRAM_DETACH", NUM, ""},  // 98
    {"IEXTERNAL_PROGRAM_START", STMT, ""},  // 99
    {"IFEXISTS", NUM, ""},  // 100
    {"IFNCOPYFILTER$", STR, "s1"},  // 101
    {"IFNESCSTR$", STR, ""},  // 102
    {"IFNESC_XML_STR$", STR, ""},  // 103
    {"IFNPQFILTER$", STR, "s1"},  // 104
    {"IFSIZE", NUM, ""},  // 105
    {"IGBUTTON_ADD_LABEL", STMT_NUMERIC, ""},  // 106
    {"IGBUTTON_NEW", NUM, ""},  // 107
    {"IGBUTTON_NEW_EMPTY", NUM, ""},  // 108
    {"IGCHECKBOX_GET", NUM, ""},  // 109
    {"IGCHECKBOX_NEW", NUM, ""},  // 110
    {"IGCHECKBOX_SET", STMT, ""},  // 111
    {"IGCOMBO_GET$", STR, ""},  // 112
    {"IGCOMBO_NEW", NUM, ""},  // 113
    {"IGCOMBO_SET", STMT, ""},  // 114
    {"IGCOMBO_TEXT_ADD", STMT, ""},  // 115
    {"IGCOMBO_VALIDATE_SET", NUM, ""},  // 116
    {"IGDATE_NEW", NUM, ""},  // 117
    {"IGDELETE_WIDGET", STMT, ""},  // 118
    {"IGDIALOG", NUM, "s1s1*"},  // 119
    {"IGDRILL", STMT, ""},  // 120
    {"IGDRILL_SETUP", STMT, ""},  // 121
    {"IGEBOX_ADD_LABEL", STMT, ""},  // 122
    {"IGEBOX_NEW", NUM, ""},  // 123
    {"IGEOMETRY_GET_OAE", STR, ""},  // 124
    {"IGEOMETRY_GET_STD", STR, ""},  // 125
    {"IGEOMETRY_PUT_OAE", STMT, ""},  // 126
    {"IGEOMETRY_PUT_STD", STMT, ""},  // 127
    {"IGFILECHOOSER_NEW", STMT, ""},  // 128
    {"IGHBOX_NEW", NUM, ""},  // 129
    {"IGHBOX_NEW_OTHER", NUM, ""},  // 130
    {"IGHBOX_PACK", STMT, ""},  // 131
    {"IGHIDE", STMT, ""},  // 132
    {"IGHSEPARATOR_NEW", NUM, ""},  // 133
    {"IGIMAGECHOOSER_COPY", STMT, ""},  // 134
    {"IGIMAGECHOOSER_NEW", STMT, ""},  // 135
    {"IGIMAGECHOOSER_ROTATE", STMT, ""},  // 136
    {"IGIMAGE_NEW", NUM, ""},  // 137
    {"IGIMAGE_PRINT", STMT, ""},  // 138
    {"IGINPUT_NEW", NUM, ""},  // 139
    {"IGLABEL_NEW", NUM, ""},  // 140
    {"IGLABEL_SETUP", STMT, ""},  // 141
    {"IGLABEL_SIMPLE_NEW", NUM, ""},  // 142
    {"IGMENU_GET", STMT, ""},  // 143
    {"IGMENU_KEY$", STR, ""},  // 144
    {"IGMENU_REFRESH", STMT, ""},  // 145
    {"IGMENU_RESET", STMT, ""},  // 146
    {"IGMENU_SETUP", NUM, ""},  // 147
    {"IGMENU_SET_BUTTONS", STMT, ""},  // 148
    {"IGMENU_SET_SHORTCUT", STMT, ""},  // 149
    {"IGMESSAGE", STMT, ""},  // 150
    {"IGNOTE_COLLAPSE", STMT, ""},  // 151
    {"IGNOTE_DELETE_AMOUNT", STMT, ""},  // 152
    {"IGNOTE_DELETE_BLOCK_TAG", NUM, ""},  // 153
    {"IGNOTE_EXPAND", STMT, ""},  // 154
    {"IGNOTE_GET", STMT, ""},  // 155
    {"IGNOTE_GET_AMOUNT", NUM, ""},  // 156
    {"IGNOTE_GET_BLOCK_TAG", NUM, ""},  // 157
    {"IGNOTE_IS_WINDOW", NUM, ""},  // 158
    {"IGNOTE_NEW", NUM, ""},  // 159
    {"IGNOTE_PRINT", STMT, ""},  // 160
    {"IGNOTE_PRINT_AMOUNT", STMT, ""},  // 161
    {"IGNOTE_PRINT_BLOCK_TAG", NUM, ""},  // 162
    {"IGPRINT", STMT, ""},  // 163
    {"IGPRINT_NOT_ESCAPED", STMT, ""},  // 164
    {"IGPRINT_TITLE", STMT, ""},  // 165
    {"IGPROGRESS_CREATE", STMT, ""},  // 166
    {"IGPROGRESS_DESTROY", STMT, ""},  // 167
    {"IGPROGRESS_IS_CANCELLED", NUM_UNTYPED, ""},  // 168
    {"IGPROGRESS_UPDATE", STMT, ""},  // 169
    {"IGRADIO_NEW", NUM, ""},  // 170
    {"IGSCROLLABLE_NEW", NUM, ""},  // 171
    {"IGSHOW", STMT, ""},  // 172
    {"IGSIZE_GROUP_ADD", STMT, ""},  // 173
    {"IGSIZE_GROUP_FINALISE", STMT, ""},  // 174
    {"IGSIZE_GROUP_NEW", NUM, ""},  // 175
    {"IGSOFTKEY_BOX", NUM, ""},  // 176
    {"IGTABLE_ADD_ROW", NUM, ""},  // 177
    {"IGTABLE_ATTACH", STMT, ""},  // 178
    {"IGTABLE_DELETE_ROW", NUM, ""},  // 179
    {"IGTABLE_GET_CELL", STMT, ""},  // 180
    {"IGTABLE_NEW", NUM, ""},  // 181
    {"IGTABLE_UNATTACHED", NUM, ""},  // 182
    {"IGTEXT_NEW", NUM, ""},  // 183
    {"IGTK_MAIN", STMT, ""},  // 184
    {"IGTK_MAIN_ITERATION", STMT, ""},  // 185
    {"IGTOGGLE_NEW", NUM, ""},  // 186
    {"IGTOOLTIP_SET", STMT, ""},  // 187
    {"IGVBOX_NEW", NUM, ""},  // 188
    {"IGVSEPARATOR_NEW", NUM, ""},  // 189
    {"IGWGET_PARENT", NUM, ""},  // 190
    {"IGWHIDE", STMT, ""},  // 191
    {"IGWIDGET_SET_NAME", STMT, ""},  // 192
    {"IGWINDOW_MOVE", STMT, ""},  // 193
    {"IGWIN_NEW", NUM, ""},  // 194
    {"IGWSHOW", STMT, ""},  // 195
    {"IGWSIMPLESHOW", STMT, ""},  // 196
    {"IGZOOM_RESET", STMT, ""},  // 197
    {"IGZOOM_SETUP", NUM, ""},  // 198
    {"IINSERT_OO_ADD_EXCLUDE", STMT, ""},  // 199
    {"IINSERT_OO_ADD_GRAPHIC", STMT, ""},  // 200
    {"IINSERT_OO_ADD_MONEY", STMT, ""},  // 201
    {"IINSERT_OO_ADD_NOTE", STMT, ""},  // 202
    {"IINSERT_OO_ADD_NUMERIC", STMT, ""},  // 203
    {"IINSERT_OO_ADD_TABLE", STMT, ""},  // 204
    {"IINSERT_OO_ADD_TEXT", STMT, ""},  // 205
    {"IINSERT_OO_CREATE", NUM, ""},  // 206
    {"IINSERT_OO_DESTROY", NUM, ""},  // 207
    {"IINSERT_OO_DO", NUM, ""},  // 208
    {"IINSERT_OO_REMOVE", NUM, ""},  // 209
    {"IINSERT_OO_SET_TABLE_MULTI_ROW_MODE", STMT, ""},  // 210
    {"IIS_LINK", NUM, ""},  // 211
    {"IIS_WRITEABLE", NUM, ""},  // 212
    {"ILDAP_CERTADD", NUM, ""},  // 213
    {"ILDAP_CERTDEL", NUM, ""},  // 214
    {"ILDAP_CHECKUSER", NUM, ""},  // 215
    {"ILDAP_IMAPACL", NUM, ""},  // 216
    {"ILDAP_ORGADD", NUM, ""},  // 217
    {"ILDAP_ORGDEL", NUM, ""},  // 218
    {"ILDAP_ORGMODIFY", NUM, ""},  // 219
    {"ILDAP_PHLINKADD", NUM, ""},  // 220
    {"ILDAP_PHLINKDEL", NUM, ""},  // 221
    {"ILDAP_PROJALIASADD", NUM, ""},  // 222
    {"ILDAP_PROJALIASDEL", NUM, ""},  // 223
    {"ILDAP_RESETPASSWD", NUM, ""},  // 224
    {"ILDAP_RPCADD", NUM, ""},  // 225
    {"ILDAP_RPCMODIFY", NUM, ""},  // 226
    {"ILDAP_SETEMAIL", NUM, ""},  // 227
    {"ILDAP_USERADD", NUM, ""},  // 228
    {"ILDAP_USERDEL", NUM, ""},  // 229
    {"ILDAP_USERDISABLE", NUM, ""},  // 230
    {"ILDAP_USERID", NUM, ""},  // 231
    {"ILDAP_USERMODIFY", NUM, ""},  // 232
    {"ILDAP_VERIFYPASSWD", NUM, ""},  // 233
    {"ILIST_ADD", NUM, "n0A"},  // 234
    {"ILIST_CDUMP", NUM, ""},  // 235
    {"ILIST_CDUMPALL", NUM, ""},  // 236
    {"ILIST_CLEAR", NUM, ""},  // 237
    {"ILIST_CLONE", NUM, ""},  // 238
    {"ILIST_DECLARE", NUM, ""},  // 239
    {"ILIST_DELETE", NUM, ""},  // 240
    {"ILIST_DESTROY", NUM, ""},  // 241
    {"ILIST_EXTEXT", NUM, ""},  // 242
    {"ILIST_FETCHNAME$", STR, ""},  // 243
    {"ILIST_GETINDEX", NUM, ""},  // 244
    {"ILIST_GETINDEX_AFTER", NUM, ""},  // 245
    {"ILIST_IFETCH", NUM, ""},  // 246
    {"ILIST_INSERT", NUM, ""},  // 247
    {"ILIST_LENGTH", NUM, ""},  // 248
    {"ILIST_NFETCH", NUM, ""},  // 249
    {"ILIST_SET", NUM, ""},  // 250
    {"ILIST_SETNAME", NUM, ""},  // 251
    {"ILIST_SETTEXT", NUM, ""},  // 252
    {"ILIST_SFETCH$", STR, ""},  // 253
    {"ILIST_SORT", NUM, ""},  // 254
    {"ILIST_SSEARCH", NUM, ""},  // 255
    {"ILIST_TOTEXT", NUM, ""},  // 256
    {"ILIST_TYPE$", STR, ""},  // 257
    {"IMAP_FOLDER_CREATE", NUM, ""},  // 258
    {"IMAP_FOLDER_DECLARE", NUM, ""},  // 259
    {"IMAP_FOLDER_DELETE", NUM, ""},  // 260
    {"IMAP_FOLDER_DESTROY", NUM, ""},  // 261
    {"IMAP_MAILBOX_DECLARE", NUM, ""},  // 262
    {"IMAP_MAILBOX_DESTROY", NUM, ""},  // 263
    {"IMFILER$", STR, ""},  // 264
    {"IMKDIR", STMT, ""},  // 265
    {"IMLOG", STMT, ""},  // 266
    {"IMLOG_POP_STATS", STMT, ""},  // 267
    {"IMLOG_PUSH_STATS", STMT, ""},  // 268
    {"INOTE_APPEND_BLOCK_TAG", STMT, ""},  // 269
    {"INOTE_APPEND_TEXT", STMT, ""},  // 270
    {"INOTE_CHECK_BLOCK_TAG", NUM, ""},  // 271
    {"INOTE_DELETE", NUM, ""},  // 272
    {"INOTE_INSERT_TEXT", NUM, ""},  // 273
    {"INT", NUM, ""},  // 274
    {"IOERR", NUM, ""},  // 275
    {"IPASSWORD_CHECK", NUM, ""},  // 276
    {"IPASSWORD_ENCRYPT$", STR, ""},  // 277
    {"IPQAFFECTEDROWS", NUM, ""},  // 278
    {"IPQBACKENDPID", NUM, ""},  // 279
    {"IPQBEGIN", STMT, ""},  // 280
    {"IPQCLEAR", NUM, ""},  // 281
    {"IPQCLOSE", NUM, ""},  // 282
    {"IPQCMDSTATUS$", STR, ""},  // 283
    {"IPQCOMMIT", NUM, ""},  // 284
    {"IPQCONNECTDB", NUM, ""},  // 285
    {"IPQCSVOUT$", STR, ""},  // 286
    {"IPQE$", STR, "s1"},  // 287
    {"IPQERRCODE$", STR, ""},  // 288
    {"IPQERRMSG$", STR, ""},  // 289
    {"IPQEXEC", NUM, ""},  // 290
    {"IPQEXECFILE", NUM, ""},  // 291
    {"IPQFETCH", NUM, ""},  // 292
    {"IPQGETVALUE$", STR, ""},  // 293
    {"IPQINSERT", NUM, ""},  // 294
    {"IPQNFIELDS", NUM, ""},  // 295
    {"IPQNOTIFIES$", STR, ""},  // 296
    {"IPQNTUPLES", NUM, ""},  // 297
    {"IPQNUMFETCH", NUM, ""},  // 298
    {"IPQPARTIALSTORE", NUM, ""},  // 299
    {"IPQROLLBACK", STMT, ""},  // 300
    {"IPQSTORE", NUM, ""},  // 301
    {"IPQSTRFETCH$", STR, ""},  // 302
    {"IPQTIME$", STR, ""},  // 303
    {"IPQTIMESTAMP$", STR, ""},  // 304
    {"IPQTRANSACTIONSTATUS", NUM, ""},  // 305
    {"IPQUPDATE", NUM, ""},  // 306
    {"IPQVIDEOFRAMES", NUM, ""},  // 307
    {"IPROCESS_CHECK", NUM, ""},  // 308
    {"IPROCESS_KILL", NUM, ""},  // 309
    {"IPSCLOSE", STMT, ""},  // 310
    {"IPSCREATE", STMT, ""},  // 311
    {"IPSDESTROY", STMT, ""},  // 312
    {"IPSFOOTER", STMT, ""},  // 313
    {"IPSHEADER", STMT, ""},  // 314
    {"IPSOPEN", STMT, ""},  // 315
    {"IPSPRINT", STMT, ""},  // 316
    {"IPSWRITE", STMT, ""},  // 317
    {"IREMOVE", STMT, ""},  // 318
    {"IREMOVE_NON_PRINTABLE$", STR, ""},  // 319
    {"IREPEAT$", STR, "s1n0"},  // 320
    {"ISAME", NUM, ""},  // 321
    {"ISBRXMLPARSE", NUM, ""},  // 322
    {"ISGTK2", NUM, ""},  // 323
    {"ISGTK3", NUM, ""},  // 324
    {"ISHOW_URI", STMT, ""},  // 325
    {"ISSUE$", STR, ""},  // 326
    {"ISTRUCTEQ", NUM, "zz"},  // 327
    {"ISTRUCT_DUMP", STMT, ""},  // 328
    {"ISTR_REPLACE$", STR, ""},  // 329
    {"IS_FG", NUM, ""},  // 330
    {"ITIMER_LAP", STMT, ""},  // 331
    {"ITIMER_RESET", STMT, ""},  // 332
    {"IURL_ENCODE$", STR, ""},  // 333
    {"LEN", NUM, "s1"},  // 334
    {"LF$", STR, "?n0"},  // 335
    {"LFN.FILE", NUM, ""},  // 336
    {"LLEN", NUM, ""},  // 337
    {"LOG.DEBUG", STMT, "s1"},  // 338
    {"LOG.ERROR", STMT, "s1s1s1s1s1s1s1s1s1"},  // 339
    {"LOOKUP.STRING$", STR, "n0s1*"},  // 340
    {"LSTKEY", NUM, ""},  // 341
    {"LSTRIP$", STR, "s1"},  // 342
    {"MACH", STMT, ""},  // 343
    {"MAXIMUM", NUM, ""},  // 344
    {"MINIMUM", NUM, ""},  // 345
    {"MKTEMP$", STR, "s1"},  // 346
    {"ORUN.ORIGIN$", STR, ""},  // 347
    {"NEWRUN#", STMT, "|s1n0"},  // 348
    {"NKEYS", NUM, ""},  // 349
    {"NRECORDS", NUM, ""},  // 350
    {"PATTERN.MATCH", NUM, ""},  // 351
    {"PATTERN.SUBST$", STR, ""},  // 352
    {"POS", NUM, ""},  // 353
    {"PROGRAM$", STR, ""},  // 354
    {"PROGRAMPOINT$", STR, ""},  // 355
    {"PUTENV", STMT, "s1s1"},  // 356
    {"ROUTINENAME$", STR, ""},  // 357
    {"RPOS", NUM, ""},  // 358
    {"SETEXIT", STMT, "n0s1"},  // 359
    {"SETMAN", STMT, "s1s1"},  // 360
    {"SHOWBYTEA$", STR, "s1"},  // 361
    {"SHOWTEXT$", STR, "s1"},  // 362
    {"SLEEP", STMT, "n0"},  // 363
    {"STR$", STR, "n0"},  // 364
    {"STRIP$", STR, "s1"},  // 365
    {"TAB$", STR, "n0"},  // 366
    {"USER.INFO", STMT, "S1N0"},  // 367
    {"VAL", NUM, "s1"},  // 368
    {"VARADR$", STR, "V"},  // 369
    {"VARIABLE.ARRAY.SIZE", NUM, ""},  // 370
    {"VARIABLE.DESTROY", STMT, ""},  // 371
    {"VARIABLE.EXISTS", NUM, ""},  // 372
    {"VARIABLE.GET", STMT, ""},  // 373
    {"VARIABLE.LIST.APPEND", STMT, ""},  // 374
    {"VARIABLE.LIST.INSERT", STMT, ""},  // 375
    {"VARIABLE.LIST.ITEM$", STR, ""},  // 376
    {"VARIABLE.LIST.JOIN$", STR, ""},  // 377
    {"VARIABLE.LIST.LENGTH", NUM, ""},  // 378
    {"VARIABLE.LIST.REMOVE", STMT, ""},  // 379
    {"VARIABLE.LIST.REPLACE", STMT, ""},  // 380
    {"VARIABLE.LIST.SEARCH", NUM, ""},  // 381
    {"VARIABLE.LIST.SORT", STMT, ""},  // 382
    {"VARIABLE.SET", STMT, ""},  // 383
    {"VARIABLE.SPLIT", STMT, ""},  // 384
    {"VARIABLE.VALUE$", STR, ""},  // 385
    {"VARINFO", STMT, "|"},  // 386
    {"X2GO_ID$", STR, ""},  // 387
    {"", 0, ""},  // closing row
};

namespace {

// The row codes in byte order of their names. The rows themselves are not quite in that order,
// and the closing row has no name, so the search runs over this index instead.
const std::array<short, in_NULL> &name_index()
{
    static const std::array<short, in_NULL> index = [] {
        std::array<short, in_NULL> ix{};
        for (int i = 0; i < in_NULL; ++i) ix[i] = static_cast<short>(i);
        std::sort(ix.begin(), ix.end(), [](short a, short b) { return FnTab_cmp(&inbuilt[a], &inbuilt[b]) < 0; });
        return ix;
    }();
    return index;
}

} // namespace

int FnTab_cmp(const FnTab_Entry *a, const FnTab_Entry *b)
{
    return StringCompare(a->F_name, b->F_name);
}

int insearch(const char *name)
{
    if (!name) return in_NULL;
    const auto &ix = name_index();
    auto it = std::lower_bound(ix.begin(), ix.end(), name,
                               [](short row, const char *n) { return std::strcmp(inbuilt[row].F_name, n) < 0; });
    if (it != ix.end() && std::strcmp(inbuilt[*it].F_name, name) == 0) return *it;
    return in_NULL;
}

const char *IntrinsicString(int code)
{
    static char unknown[64];
    if (code >= 0 && code <= in_NULL) return inbuilt[code].F_name;
    std::snprintf(unknown, sizeof unknown, "UKN Intrinsic %d", code);
    return unknown;
}

const char *Check_signature(const char *signature, const Stack *args, int count, int first)
{
    static char message[128];
    const char *p = signature ? signature : "";
    for (int i = 0; i < count; ++i) {
        int argno = first + i;
        if (*p == '\0') {
            std::snprintf(message, sizeof message, "too many arguments");
            return message;
        }
        if (*p == '|' || *p == '?') return nullptr;  // the rest goes unchecked
        char letter = *p++;
        int digit = 0;
        if (std::isdigit(static_cast<unsigned char>(*p))) digit = *p++ - '0';
        bool is_string = letter == 's' || letter == 'S';
        const Stack &a = args[i];
        if (std::isupper(static_cast<unsigned char>(letter)) && !(a.flags & stk_ref)) {
            std::snprintf(message, sizeof message, "argument #%d must be a variable", argno);
            return message;
        }
        ConType want = is_string ? (digit == 1 ? string : string_array) : (digit == 0 ? real : real_array);
        int dims = (a.s_dims[0] > 0) + (a.s_dims[1] > 0);
        if (is_string && dims < 1) dims = 1;
        if (a.s_t != want || dims != digit) {
            const char *kind = is_string ? "string" : "numeric";
            if (digit != 0)
                std::snprintf(message, sizeof message, "argument #%d must be a %d-dimensional %s array", argno, digit,
                              kind);
            else
                std::snprintf(message, sizeof message, "argument #%d must be a scalar %s", argno, kind);
            return message;
        }
    }
    if (*p == '\0' || *p == '?') return nullptr;
    std::snprintf(message, sizeof message, "insufficient arguments");
    return message;
}
