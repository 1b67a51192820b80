-- Rows that wixl has no element for, added to its package by build-msi.sh (one statement a
-- line). The settings key belongs to the component "Settings", which is 32-bit in both
-- packages, so its rows are in the 32-bit view where the agent keeps it (Software\WOW6432Node
-- on a 64-bit system). Removing the product also removes the agent's settings key (with its values, and
-- "Software\Corvane" when nothing else is left under it) and what the agent wrote into its
-- folder: the state file, its temporary and damaged copies, crash dumps, and the log under
-- the name docs/operations.md suggests. A newer version that replaces this one removes it
-- first with UPGRADINGPRODUCTCODE set: the settings then stay for the newer version. (Wine's
-- msiexec removes the older version in an installation of its own without that property,
-- so under Wine an upgrade loses the settings.)
INSERT INTO `Registry` (`Registry`, `Root`, `Key`, `Name`, `Component_`) VALUES ('SettingsKey', 2, 'Software\Corvane\Client Service', '-', 'Settings')
INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('RemoveRegistryValues', 'NOT UPGRADINGPRODUCTCODE', 2600)
INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES ('WriteRegistryValues', 5000)
INSERT INTO `RemoveFile` (`FileKey`, `Component_`, `FileName`, `DirProperty`, `InstallMode`) VALUES ('StateFile', 'Program', 'wardex.dat', 'INSTALLDIR', 2)
INSERT INTO `RemoveFile` (`FileKey`, `Component_`, `FileName`, `DirProperty`, `InstallMode`) VALUES ('StateFileTemporary', 'Program', 'wardex~1.tmp|wardex.dat.tmp', 'INSTALLDIR', 2)
INSERT INTO `RemoveFile` (`FileKey`, `Component_`, `FileName`, `DirProperty`, `InstallMode`) VALUES ('StateFileDamaged', 'Program', 'wardex~1.dam|wardex.dat.damaged', 'INSTALLDIR', 2)
INSERT INTO `RemoveFile` (`FileKey`, `Component_`, `FileName`, `DirProperty`, `InstallMode`) VALUES ('CrashDumps', 'Program', '*.dmp', 'INSTALLDIR', 2)
INSERT INTO `RemoveFile` (`FileKey`, `Component_`, `FileName`, `DirProperty`, `InstallMode`) VALUES ('Log', 'Program', 'wardex.log', 'INSTALLDIR', 2)
-- The settings key and the program folder are for SYSTEM and Administrators alone, with
-- nothing inherited from their parents (the agent sets the same list on the key and its
-- files itself). wixl has no element for access lists, so the key is made on installation by
-- a row of its own, and both get their list from MsiLockPermissionsEx (Windows Installer 5).
-- Wine's msiexec ignores that table.
CREATE TABLE `MsiLockPermissionsEx` (`MsiLockPermissionsEx` CHAR(72) NOT NULL, `LockObject` CHAR(72) NOT NULL, `Table` CHAR(32) NOT NULL, `SDDL` LONGCHAR NOT NULL, `Condition` CHAR(255) PRIMARY KEY `MsiLockPermissionsEx`)
INSERT INTO `Registry` (`Registry`, `Root`, `Key`, `Name`, `Component_`) VALUES ('SettingsKeyAccess', 2, 'Software\Corvane\Client Service', '+', 'Settings')
INSERT INTO `MsiLockPermissionsEx` (`MsiLockPermissionsEx`, `LockObject`, `Table`, `SDDL`) VALUES ('SettingsKeyList', 'SettingsKeyAccess', 'Registry', 'D:P(A;CI;KA;;;SY)(A;CI;KA;;;BA)')
INSERT INTO `MsiLockPermissionsEx` (`MsiLockPermissionsEx`, `LockObject`, `Table`, `SDDL`) VALUES ('ProgramFolderList', 'INSTALLDIR', 'CreateFolder', 'D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)')
