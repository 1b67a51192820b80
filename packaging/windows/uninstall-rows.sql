-- Rows that wixl has no element for, added to its package by build-msi.sh (one statement a
-- line). Removing the product also removes the agent's settings key (with its values, and
-- "Software\Corvane" when nothing else is left under it) and what the agent wrote into its
-- folder: the state file, its temporary and damaged copies, crash dumps, and the log under
-- the name docs/operations.md suggests.
INSERT INTO `Registry` (`Registry`, `Root`, `Key`, `Name`, `Component_`) VALUES ('SettingsKey', 2, 'Software\Corvane\Client Service', '-', 'Program')
INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES ('RemoveRegistryValues', 2600)
INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES ('WriteRegistryValues', 5000)
INSERT INTO `RemoveFile` (`FileKey`, `Component_`, `FileName`, `DirProperty`, `InstallMode`) VALUES ('StateFile', 'Program', 'wardex.dat', 'INSTALLDIR', 2)
INSERT INTO `RemoveFile` (`FileKey`, `Component_`, `FileName`, `DirProperty`, `InstallMode`) VALUES ('StateFileTemporary', 'Program', 'wardex~1.tmp|wardex.dat.tmp', 'INSTALLDIR', 2)
INSERT INTO `RemoveFile` (`FileKey`, `Component_`, `FileName`, `DirProperty`, `InstallMode`) VALUES ('StateFileDamaged', 'Program', 'wardex~1.dam|wardex.dat.damaged', 'INSTALLDIR', 2)
INSERT INTO `RemoveFile` (`FileKey`, `Component_`, `FileName`, `DirProperty`, `InstallMode`) VALUES ('CrashDumps', 'Program', '*.dmp', 'INSTALLDIR', 2)
INSERT INTO `RemoveFile` (`FileKey`, `Component_`, `FileName`, `DirProperty`, `InstallMode`) VALUES ('Log', 'Program', 'wardex.log', 'INSTALLDIR', 2)
