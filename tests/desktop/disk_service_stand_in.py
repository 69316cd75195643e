'''A stand-in of the desktop's disk service for python3-dbusmock: one block device and the
drive behind it, which can eject or power off as the parameters say. Written for Quenvol's
tests, where no USB bus offers a drive that really ejects.

Parameters: block (the device's name, "loop7"), device_number (its st_rdev), ejectable and
can_power_off (booleans).
'''

import dbus

SYSTEM_BUS = True
BUS_NAME = 'org.freedesktop.UDisks2'
MAIN_OBJ = '/org/freedesktop/UDisks2/Manager'
MAIN_IFACE = 'org.freedesktop.UDisks2.Manager'


def load(mock, parameters):
    block = '/org/freedesktop/UDisks2/block_devices/' + parameters['block']
    drive = '/org/freedesktop/UDisks2/drives/Stand_In_Floppy_Drive'
    mock.AddMethod(MAIN_IFACE, 'ResolveDevice', 'a{sv}a{sv}', 'ao',
                   'ret = [dbus.ObjectPath("%s")]' % block)
    mock.AddObject(block, 'org.freedesktop.UDisks2.Block', {
        'DeviceNumber': dbus.UInt64(parameters['device_number']),
        'Drive': dbus.ObjectPath(drive),
    }, [])
    mock.AddObject(drive, 'org.freedesktop.UDisks2.Drive', {
        'Ejectable': dbus.Boolean(parameters['ejectable']),
        'CanPowerOff': dbus.Boolean(parameters['can_power_off']),
        'Removable': dbus.Boolean(True),
    }, [
        ('Eject', 'a{sv}', '', ''),
        ('PowerOff', 'a{sv}', '', ''),
    ])
