#include "winsys/uDrovaneHeaders.h"

#include "rtl/ModuleInit.h"

void DrovaneHeadersRegister(TConstants& aConstants) {
  aConstants.Add({
      u"=FileInformationClass",
      0x1u, u"FileDirectoryInformation",
      0x2u, u"FileFullDirectoryInformation",
      0x3u, u"FileBothDirectoryInformation",
      0x4u, u"FileBasicInformation",
      0x5u, u"FileStandardInformation",
      0x6u, u"FileInternalInformation",
      0x7u, u"FileEaInformation",
      0x8u, u"FileAccessInformation",
      0x9u, u"FileNameInformation",
      0xAu, u"FileRenameInformation",
      0xBu, u"FileLinkInformation",
      0xCu, u"FileNamesInformation",
      0xDu, u"FileDispositionInformation",
      0xEu, u"FilePositionInformation",
      0xFu, u"FileFullEaInformation",
      0x10u, u"FileModeInformation",
      0x11u, u"FileAlignmentInformation",
      0x12u, u"FileAllInformation",
      0x13u, u"FileAllocationInformation",
      0x14u, u"FileEndOfFileInformation",
      0x15u, u"FileAlternateNameInformation",
      0x16u, u"FileStreamInformation",
      0x17u, u"FilePipeInformation",
      0x18u, u"FilePipeLocalInformation",
      0x19u, u"FilePipeRemoteInformation",
      0x1Au, u"FileMailslotQueryInformation",
      0x1Bu, u"FileMailslotSetInformation",
      0x1Cu, u"FileCompressionInformation",
      0x1Du, u"FileObjectIdInformation",
      0x1Eu, u"FileCompletionInformation",
      0x1Fu, u"FileMoveClusterInformation",
      0x20u, u"FileQuotaInformation",
      0x21u, u"FileReparsePointInformation",
      0x22u, u"FileNetworkOpenInformation",
      0x23u, u"FileAttributeTagInformation",
      0x24u, u"FileTrackingInformation",
      0x25u, u"FileIdBothDirectoryInformation",
      0x26u, u"FileIdFullDirectoryInformation",
      0x27u, u"FileValidDataLengthInformation",
      0x28u, u"FileShortNameInformation",
      0x29u, u"FileIoCompletionNotificationInformation",
      0x2Au, u"FileIoStatusBlockRangeInformation",
      0x2Bu, u"FileIoPriorityHintInformation",
      0x2Cu, u"FileSfioReserveInformation",
      0x2Du, u"FileSfioVolumeInformation",
      0x2Eu, u"FileHardLinkInformation",
      0x2Fu, u"FileProcessIdsUsingFileInformation",
      0x30u, u"FileNormalizedNameInformation",
      0x31u, u"FileNetworkPhysicalNameInformation",
      0x32u, u"FileIdGlobalTxDirectoryInformation",
      0x33u, u"FileIsRemoteDeviceInformation",
      0x34u, u"FileAttributeCacheInformation",
      0x35u, u"FileNumaNodeInformation",
      0x36u, u"FileStandardLinkInformation",
      0x37u, u"FileRemoteProtocolInformation"
  });
  aConstants.Add({
      u"=FsInformationClass",
      0x1u, u"FileFsVolumeInformation",
      0x2u, u"FileFsLabelInformation,",
      0x3u, u"FileFsSizeInformation,",
      0x4u, u"FileFsDeviceInformation,",
      0x5u, u"FileFsAttributeInformation,",
      0x6u, u"FileFsControlInformation,",
      0x7u, u"FileFsFullSizeInformation,",
      0x8u, u"FileFsObjectIdInformation,",
      0x9u, u"FileFsDriverPathInformation,",
      0xAu, u"FileFsVolumeFlagsInformation",
      0xBu, u"FileFsSectorSizeInformation"
  });
  aConstants.Add({
      u"=IrpMajorFn",
      0x0u, u"IRP_MJ_CREATE",
      0x1u, u"IRP_MJ_CREATE_NAMED_PIPE",
      0x2u, u"IRP_MJ_CLOSE",
      0x3u, u"IRP_MJ_READ",
      0x4u, u"IRP_MJ_WRITE",
      0x5u, u"IRP_MJ_QUERY_INFORMATION",
      0x6u, u"IRP_MJ_SET_INFORMATION",
      0x7u, u"IRP_MJ_QUERY_EA",
      0x8u, u"IRP_MJ_SET_EA",
      0x9u, u"IRP_MJ_FLUSH_BUFFERS",
      0xAu, u"IRP_MJ_QUERY_VOLUME_INFORMATION",
      0xBu, u"IRP_MJ_SET_VOLUME_INFORMATION",
      0xCu, u"IRP_MJ_DIRECTORY_CONTROL",
      0xDu, u"IRP_MJ_FILE_SYSTEM_CONTROL",
      0xEu, u"IRP_MJ_DEVICE_CONTROL",
      0xFu, u"IRP_MJ_INTERNAL_DEVICE_CONTROL",
      0x10u, u"IRP_MJ_SHUTDOWN",
      0x11u, u"IRP_MJ_LOCK_CONTROL",
      0x12u, u"IRP_MJ_CLEANUP",
      0x13u, u"IRP_MJ_CREATE_MAILSLOT",
      0x14u, u"IRP_MJ_QUERY_SECURITY",
      0x15u, u"IRP_MJ_SET_SECURITY",
      0x16u, u"IRP_MJ_POWER",
      0x17u, u"IRP_MJ_SYSTEM_CONTROL",
      0x18u, u"IRP_MJ_DEVICE_CHANGE",
      0x19u, u"IRP_MJ_QUERY_QUOTA",
      0x1Au, u"IRP_MJ_SET_QUOTA",
      0x1Bu, u"IRP_MJ_PNP",
      0x1Bu, u"IRP_MJ_PNP_POWER",
      0x1Bu, u"IRP_MJ_MAXIMUM_FUNCTION"
  });
  aConstants.Add({
      u"=IrpMinorFnDirectoryQuery",
      0x1u, u"IRP_MN_QUERY_DIRECTORY",
      0x2u, u"IRP_MN_NOTIFY_CHANGE_DIRECTORY"
  });
  aConstants.Add({
      u"=IrpMinorFnLocks",
      0x1u, u"IRP_MN_LOCK",
      0x2u, u"IRP_MN_UNLOCK_SINGLE",
      0x3u, u"IRP_MN_UNLOCK_ALL",
      0x4u, u"IRP_MN_UNLOCK_ALL_BY_KEY"
  });
  aConstants.Add({
      u">OperationFlagsCreate",
      0x1u, u"SL_FORCE_ACCESS_CHECK",
      0x2u, u"SL_OPEN_PAGING_FILE",
      0x4u, u"SL_OPEN_TARGET_DIRECTORY",
      0x8u, u"SL_STOP_ON_SYMLINK",
      0x80u, u"SL_CASE_SENSITIVE"
  });
  aConstants.Add({
      u">OperationFlagsDirectoryQuery",
      0x1u, u"SL_RESTART_SCAN",
      0x2u, u"SL_RETURN_SINGLE_ENTRY",
      0x4u, u"SL_INDEX_SPECIFIED"
  });
  aConstants.Add({
      u">OperationFlagsReadWrite",
      0x1u, u"SL_KEY_SPECIFIED",
      0x2u, u"SL_OVERRIDE_VERIFY_VOLUME",
      0x4u, u"SL_WRITE_THROUGH",
      0x8u, u"SL_FT_SEQUENTIAL_WRITE",
      0x10u, u"SL_FORCE_DIRECT_WRITE",
      0x20u, u"SL_REALTIME_STREAM"
  });
  aConstants.Add({
      u">OperationFlagsLocks",
      0x1u, u"SL_FAIL_IMMEDIATELY",
      0x2u, u"SL_EXCLUSIVE_LOCK"
  });
  aConstants.Add({
      u">OperationFlagsChangeNotification",
      0x1u, u"SL_WATCH_TREE"
  });
  aConstants.Add({
      u"=Status",
      0x0u, u"STATUS_SUCCESS",
      0x80000006u, u"STATUS_NO_MORE_FILES",
      0xC0000011u, u"STATUS_END_OF_FILE",
      0xC000000Fu, u"STATUS_NO_SUCH_FILE",
      0xC000000Du, u"STATUS_INVALID_PARAMETER",
      0xC0000002u, u"STATUS_NOT_IMPLEMENTED",
      0x80000005u, u"STATUS_BUFFER_OVERFLOW",
      0xC0000004u, u"STATUS_INFO_LENGTH_MISMATCH",
      0xC0000010u, u"STATUS_INVALID_DEVICE_REQUEST",
      0xC00000BAu, u"STATUS_FILE_IS_A_DIRECTORY",
      0xC0000043u, u"STATUS_SHARING_VIOLATION",
      0xC0000033u, u"STATUS_OBJECT_NAME_INVALID",
      0xC0000034u, u"STATUS_OBJECT_NAME_NOT_FOUND",
      0xC0000035u, u"STATUS_OBJECT_NAME_COLLISION",
      0xC0000039u, u"STATUS_OBJECT_PATH_INVALID",
      0xC000003Au, u"STATUS_OBJECT_PATH_NOT_FOUND",
      0xC000003Bu, u"STATUS_OBJECT_PATH_SYNTAX_BAD",
      0xC0000022u, u"STATUS_ACCESS_DENIED",
      0xC00000BBu, u"STATUS_NOT_SUPPORTED",
      0xC0000054u, u"STATUS_FILE_LOCK_CONFLICT",
      0xC0000055u, u"STATUS_LOCK_NOT_GRANTED",
      0xC0000056u, u"STATUS_DELETE_PENDING",
      0xC00000E2u, u"STATUS_OPLOCK_NOT_GRANTED",
      0xC0000101u, u"STATUS_DIRECTORY_NOT_EMPTY",
      0xC0000103u, u"STATUS_NOT_A_DIRECTORY",
      0xC0000121u, u"STATUS_CANNOT_DELETE",
      0xC0000061u, u"STATUS_PRIVILEGE_NOT_HELD",
      0xC000007Fu, u"STATUS_DISK_FULL",
      0xC00000A3u, u"STATUS_DEVICE_NOT_READY",
      0xCCCCCCCCu, u"STATUS_DO_NOT_SEND_ANYTHING",
      0xC0000120u, u"STATUS_CANCELLED",
      0xC0000275u, u"STATUS_NOT_A_REPARSE_POINT",
      0xC00002F0u, u"STATUS_OBJECTID_NOT_FOUND",
      0x103u, u"STATUS_PENDING",
      0xFFFFFFFFu, u"STATUS_UNDEFINED"
  });
  aConstants.Add({
      u">FileObjectFlags",
      0x1u, u"FO_FILE_OPEN",
      0x2u, u"FO_SYNCHRONOUS_IO",
      0x4u, u"FO_ALERTABLE_IO",
      0x8u, u"FO_NO_INTERMEDIATE_BUFFERING",
      0x10u, u"FO_WRITE_THROUGH",
      0x20u, u"FO_SEQUENTIAL_ONLY",
      0x40u, u"FO_CACHE_SUPPORTED",
      0x80u, u"FO_NAMED_PIPE",
      0x100u, u"FO_STREAM_FILE",
      0x200u, u"FO_MAILSLOT",
      0x400u, u"FO_GENERATE_AUDIT_ON_CLOSE",
      0x400u, u"FO_QUEUE_IRP_TO_THREAD",
      0x800u, u"FO_DIRECT_DEVICE_OPEN",
      0x1000u, u"FO_FILE_MODIFIED",
      0x2000u, u"FO_FILE_SIZE_CHANGED",
      0x4000u, u"FO_CLEANUP_COMPLETE",
      0x8000u, u"FO_TEMPORARY_FILE",
      0x10000u, u"FO_DELETE_ON_CLOSE",
      0x20000u, u"FO_OPENED_CASE_SENSITIVE",
      0x40000u, u"FO_HANDLE_CREATED",
      0x80000u, u"FO_FILE_FAST_IO_READ",
      0x100000u, u"FO_RANDOM_ACCESS",
      0x200000u, u"FO_FILE_OPEN_CANCELLED",
      0x400000u, u"FO_VOLUME_OPEN",
      0x1000000u, u"FO_REMOTE_ORIGIN",
      0x2000000u, u"FO_DISALLOW_EXCLUSIVE",
      0x2000000u, u"FO_SKIP_COMPLETION_PORT",
      0x4000000u, u"FO_SKIP_SET_EVENT",
      0x8000000u, u"FO_SKIP_SET_FAST_IO"
  });
  aConstants.Add({
      u">CbdFlags",
      0x1u, u"FLTFL_CALLBACK_DATA_IRP_OPERATION",
      0x2u, u"FLTFL_CALLBACK_DATA_FAST_IO_OPERATION",
      0x4u, u"FLTFL_CALLBACK_DATA_FS_FILTER_OPERATION",
      0x8u, u"FLTFL_CALLBACK_DATA_SYSTEM_BUFFER",
      0x10000u, u"FLTFL_CALLBACK_DATA_GENERATED_IO",
      0x20000u, u"FLTFL_CALLBACK_DATA_REISSUED_IO",
      0x40000u, u"FLTFL_CALLBACK_DATA_DRAINING_IO",
      0x80000u, u"FLTFL_CALLBACK_DATA_POST_OPERATION",
      0x100000u, u"FLTFL_CALLBACK_DATA_NEW_SYSTEM_BUFFER",
      0x80000000u, u"FLTFL_CALLBACK_DATA_DIRTY"
  });
  aConstants.Add({
      u">IrpFlags",
      0x1u, u"IRP_NOCACHE",
      0x2u, u"IRP_PAGING_IO",
      0x2u, u"IRP_MOUNT_COMPLETION",
      0x4u, u"IRP_SYNCHRONOUS_API",
      0x8u, u"IRP_ASSOCIATED_IRP",
      0x10u, u"IRP_BUFFERED_IO",
      0x20u, u"IRP_DEALLOCATE_BUFFER",
      0x40u, u"IRP_INPUT_OPERATION",
      0x40u, u"IRP_SYNCHRONOUS_PAGING_IO",
      0x80u, u"IRP_CREATE_OPERATION",
      0x100u, u"IRP_READ_OPERATION",
      0x200u, u"IRP_WRITE_OPERATION",
      0x400u, u"IRP_CLOSE_OPERATION",
      0x800u, u"IRP_DEFER_IO_COMPLETION",
      0x1000u, u"IRP_OB_QUERY_NAME",
      0x2000u, u"IRP_HOLD_DEVICE_QUEUE"
  });
  aConstants.Add({
      u"=MjCreateNtDispositions",
      0x0u, u"FILE_SUPERSEDE",
      0x1u, u"FILE_OPEN",
      0x2u, u"FILE_CREATE",
      0x3u, u"FILE_OPEN_IF",
      0x4u, u"FILE_OVERWRITE",
      0x5u, u"FILE_OVERWRITE_IF"
  });
  aConstants.Add({
      u">MjCreateOptions",
      0x1u, u"FILE_DIRECTORY_FILE",
      0x2u, u"FILE_WRITE_THROUGH",
      0x4u, u"FILE_SEQUENTIAL_ONLY",
      0x8u, u"FILE_NO_INTERMEDIATE_BUFFERING",
      0x10u, u"FILE_SYNCHRONOUS_IO_ALERT",
      0x20u, u"FILE_SYNCHRONOUS_IO_NONALERT",
      0x40u, u"FILE_NON_DIRECTORY_FILE",
      0x80u, u"FILE_CREATE_TREE_CONNECTION",
      0x100u, u"FILE_COMPLETE_IF_OPLOCKED",
      0x200u, u"FILE_NO_EA_KNOWLEDGE",
      0x400u, u"FILE_OPEN_REMOTE_INSTANCE",
      0x800u, u"FILE_RANDOM_ACCESS",
      0x1000u, u"FILE_DELETE_ON_CLOSE",
      0x2000u, u"FILE_OPEN_BY_FILE_ID",
      0x4000u, u"FILE_OPEN_FOR_BACKUP_INTENT",
      0x8000u, u"FILE_NO_COMPRESSION",
      0x10000u, u"FILE_OPEN_REQUIRING_OPLOCK",
      0x20000u, u"FILE_DISALLOW_EXCLUSIVE",
      0x100000u, u"FILE_RESERVE_OPFILTER",
      0x200000u, u"FILE_OPEN_REPARSE_POINT",
      0x400000u, u"FILE_OPEN_NO_RECALL",
      0x800000u, u"FILE_OPEN_FOR_FREE_SPACE_QUERY"
  });
  aConstants.Add({
      u"=FilterPreOp",
      0x0u, u"FLT_PREOP_SUCCESS_WITH_CALLBACK",
      0x1u, u"FLT_PREOP_SUCCESS_NO_CALLBACK",
      0x2u, u"FLT_PREOP_PENDING",
      0x3u, u"FLT_PREOP_DISALLOW_FASTIO",
      0x4u, u"FLT_PREOP_COMPLETE",
      0x5u, u"FLT_PREOP_SYNCHRONIZE"
  });
  aConstants.Add({
      u"=FsCtlFunction",
      0x0u, u"FSCTL_NR_REQUEST_OPLOCK_LEVEL_1",
      0x1u, u"FSCTL_NR_REQUEST_OPLOCK_LEVEL_2",
      0x2u, u"FSCTL_NR_REQUEST_BATCH_OPLOCK",
      0x3u, u"FSCTL_NR_OPLOCK_BREAK_ACKNOWLEDGE",
      0x4u, u"FSCTL_NR_OPBATCH_ACK_CLOSE_PENDING",
      0x5u, u"FSCTL_NR_OPLOCK_BREAK_NOTIFY",
      0x14u, u"FSCTL_NR_OPLOCK_BREAK_ACK_NO_2",
      0x17u, u"FSCTL_NR_REQUEST_FILTER_OPLOCK",
      0x27u, u"FSCTL_NR_GET_OBJECT_ID",
      0x26u, u"FSCTL_NR_SET_OBJECT_ID",
      0x2Au, u"FSCTL_NR_GET_REPARSE_POINT",
      0x2Fu, u"FSCTL_NR_SET_OBJECT_ID_EXTENDED",
      0x30u, u"FSCTL_NR_CREATE_OR_GET_OBJECT_ID",
      0x36u, u"FSCTL_NR_ENCRYPTION_FSCTL_IO",
      0x90u, u"FSCTL_NR_REQUEST_OPLOCK",
      0x3Au, u"FSCTL_READ_FILE_USN_DATA",
      0x9Cu, u"FSCTL_SET_PURGE_FAILURE_MODE",
      0x7Bu, u"FSCTL_RESET_VOLUME_ALLOCATION_HINTS"
  });
  aConstants.Add({
      u"=FsCtlDevice",
      0x9u, u"FILE_DEVICE_FILE_SYSTEM",
      0x14u, u"FILE_DEVICE_NETWORK_FILE_SYSTEM",
      0x6Du, u"FILE_DEVICE_MOUNT_MGR",
      0x4Du, u"FILE_DEVICE_MOUNT_DEV"
  });
  aConstants.Add({
      u">ChangeNotifyChange",
      0x1u, u"FILE_NOTIFY_CHANGE_FILE_NAME",
      0x2u, u"FILE_NOTIFY_CHANGE_DIR_NAME",
      0x4u, u"FILE_NOTIFY_CHANGE_ATTRIBUTES",
      0x8u, u"FILE_NOTIFY_CHANGE_SIZE",
      0x10u, u"FILE_NOTIFY_CHANGE_LAST_WRITE",
      0x20u, u"FILE_NOTIFY_CHANGE_LAST_ACCESS",
      0x40u, u"FILE_NOTIFY_CHANGE_CREATION",
      0x80u, u"FILE_NOTIFY_CHANGE_EA",
      0x100u, u"FILE_NOTIFY_CHANGE_SECURITY",
      0x200u, u"FILE_NOTIFY_CHANGE_STREAM_NAME",
      0x400u, u"FILE_NOTIFY_CHANGE_STREAM_SIZE",
      0x800u, u"FILE_NOTIFY_CHANGE_STREAM_WRITE"
  });
  aConstants.Add({
      u"=ChangeNotifyAction",
      0x1u, u"FILE_ACTION_ADDED",
      0x2u, u"FILE_ACTION_REMOVED",
      0x3u, u"FILE_ACTION_MODIFIED",
      0x4u, u"FILE_ACTION_RENAMED_OLD_NAME",
      0x5u, u"FILE_ACTION_RENAMED_NEW_NAME",
      0x6u, u"FILE_ACTION_ADDED_STREAM",
      0x7u, u"FILE_ACTION_REMOVED_STREAM",
      0x8u, u"FILE_ACTION_MODIFIED_STREAM",
      0x9u, u"FILE_ACTION_REMOVED_BY_DELETE",
      0xAu, u"FILE_ACTION_ID_NOT_TUNNELLED",
      0xBu, u"FILE_ACTION_TUNNELLED_ID_COLLISION",
      0xFu, u"FILE_ACTION_X_MARKED_FOR_DELETION"
  });
  aConstants.Add({
      u"=WindowsError",
      0x0u, u"NO_ERROR",
      0x8CAu, u"ERROR_NOT_CONNECTED",
      0x47Eu, u"ERROR_OLD_WIN_VERSION",
      0x4DBu, u"ERROR_SERVICE_NOT_FOUND",
      0x435u, u"ERROR_SERVICE_NEVER_STARTED",
      0x430u, u"ERROR_SERVICE_MARKED_FOR_DELETE",
      0x426u, u"ERROR_SERVICE_NOT_ACTIVE",
      0x425u, u"ERROR_SERVICE_CANNOT_ACCEPT_CTRL",
      0x42Du, u"ERROR_SERVICE_LOGON_FAILED",
      0x422u, u"ERROR_SERVICE_DISABLED",
      0xC1u, u"ERROR_BAD_EXE_FORMAT",
      0x2u, u"ERROR_FILE_NOT_FOUND",
      0x50u, u"ERROR_FILE_EXISTS",
      0xB7u, u"ERROR_ALREADY_EXISTS",
      0x1Fu, u"ERROR_GEN_FAILURE",
      0x43Cu, u"ERROR_NOT_SAFEBOOT_DEVICE",
      0x5u, u"ERROR_ACCESS_DENIED",
      0x6u, u"ERROR_INVALID_HANDLE",
      0x78u, u"ERROR_CALL_NOT_IMPLEMENTED",
      0x420u, u"ERROR_SERVICE_ALREADY_RUNNING",
      0x40010004u, u"DBG_TERMINATE_PROCESS"
  });
}

namespace {

// Runs after uWindowsFlags' start-up, which created Constants.
struct TDrovaneHeadersStartUp {
  TDrovaneHeadersStartUp() {
    if (Constants) DrovaneHeadersRegister(*Constants);
  }
};
TDrovaneHeadersStartUp DrovaneHeadersStartUp ORV_UNIT_INIT(unitorder::kDrovaneHeaders);

}  // namespace
