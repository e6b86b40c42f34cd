#pragma once
#include "connectscan.h"

#include <QAbstractTableModel>

#include <unordered_map>
#include <vector>

// The ports a scan has listed so far, kept in port order: port, state, service.
class ScanResultsModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { PortColumn, StateColumn, ServiceColumn, ColumnCount };
    using QAbstractTableModel::QAbstractTableModel;

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    void add(const std::vector<scan::PortResult> &results);
    void clear();

private:
    QString service(uint16_t port) const;

    std::vector<scan::PortResult> m_rows;
    // Looked up when a row is first shown: a full range has far more rows than ever show.
    mutable std::unordered_map<uint16_t, QString> m_services;
};
